// controls/gdi_handles.h
#pragma once

#include <windows.h>

#include "framework/handles.h"

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
