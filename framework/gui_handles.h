// framework/gui_handles.h
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/handles.h"

// Owners of user-interface objects that no window destroys for us.
using UniqueIcon = UniqueHandle<HICON, DestroyIcon>;
using UniqueImageList = UniqueHandle<HIMAGELIST, ImageList_Destroy>;
// A window made for an object's own use (a tool-tip control), destroyed with it.
using UniqueWindow = UniqueHandle<HWND, DestroyWindow>;
