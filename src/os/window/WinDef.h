// The small USER32/GDI value types and handles that the window layer, the GDI
// layer and the video mixer share: rectangles, points, colours and the handle
// types. Header-only, so that any layer may name them without linking ours.
//
// Handles are pointers to objects of our own layers, declared here and defined
// by the layer that creates them:
//   HWND    -> os::Window        (os/window)
//   HDC     -> os::DeviceContext (os/gdi)
//   HGDIOBJ -> os::GdiObject     (os/gdi; HBITMAP, HPEN, HBRUSH and HFONT are
//                                 the same pointer, as on Windows they are all
//                                 GDI object handles)
//   HCURSOR, HICON -> os::Cursor (os/window)
//   HMENU   -> os::Menu          (os/window)
#pragma once

#include "os/kernel/Kernel.h"

#include <cstdint>

namespace os {
class Window;
class DeviceContext;
class GdiObject;
class Cursor;
class Menu;
} // namespace os

using HWND = os::Window*;
using HDC = os::DeviceContext*;
using HGDIOBJ = os::GdiObject*;
using HBITMAP = os::GdiObject*;
using HPEN = os::GdiObject*;
using HBRUSH = os::GdiObject*;
using HFONT = os::GdiObject*;
using HCURSOR = os::Cursor*;
using HICON = os::Cursor*;
using HMENU = os::Menu*;

using HINSTANCE = void*;
using LPCSTR = const char*;
using LPCWSTR = const wchar_t*;
using UINT_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using FLOAT = float;

// 0x00BBGGRR, as on Windows.
using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) {
    return static_cast<BYTE>(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c) {
    return static_cast<BYTE>((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c) {
    return static_cast<BYTE>((c >> 16) & 0xFF);
}

// Resource names given as numbers (the system cursors and icons).
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)

// Right and bottom are exclusive: a rectangle {0, 0, 640, 480} covers 640 x
// 480 pixels.
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct POINT {
    LONG x;
    LONG y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};
