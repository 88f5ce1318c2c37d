// framework/gui_handles.h
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/handles.h"

// Owners of user-interface objects that no window destroys for us.
using UniqueMenu = UniqueHandle<HMENU, DestroyMenu>;
using UniqueIcon = UniqueHandle<HICON, DestroyIcon>;
using UniqueCursor = UniqueHandle<HCURSOR, DestroyCursor>;
using UniqueImageList = UniqueHandle<HIMAGELIST, ImageList_Destroy>;
// A window made for an object's own use (a tool-tip control), destroyed with it.
using UniqueWindow = UniqueHandle<HWND, DestroyWindow>;

// DeleteObject takes any GDI object; these give fonts and brushes owner types
// of their own.
inline BOOL WINAPI DeleteFontObject(HFONT font)
{
    return DeleteObject(font);
}
inline BOOL WINAPI DeleteBrushObject(HBRUSH brush)
{
    return DeleteObject(brush);
}

using UniqueFont = UniqueHandle<HFONT, DeleteFontObject>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteBrushObject>;
