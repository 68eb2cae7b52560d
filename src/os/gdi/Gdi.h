// The GDI calls the viewer draws with, stood in for on Cairo image surfaces.
//
// What draws: the overlay bitmap and its caption, the area editors' outlines,
// grids and labels, the PTZ control's direction line. All of it goes into a
// memory device context (CreateCompatibleDC) holding a bitmap
// (CreateCompatibleBitmap), or straight into a window (GetDC). Pixels are 4
// bytes, B, G, R, X, rows top-down - the window surface's format - so a
// bitmap and a window hold the same kind of picture.
//
// Drawing follows GDI where the callers can see it:
//   - rectangles are right- and bottom-exclusive; FillRect fills exactly
//     [left, right) x [top, bottom), without smoothing;
//   - LineTo draws from the current position up to, not including, the end
//     point; one-pixel pens are crisp (no smoothing), wider pens have round
//     ends and are centred on the line; PS_NULL draws nothing;
//   - fonts are made with CreateFontA's numbers: a positive height is the
//     cell height (ascent + descent) in pixels, a negative one the character
//     height (em); a non-zero width is the average character width (the
//     width of "x"), the glyphs are stretched to it. The face is resolved
//     through fontconfig, so "Courier New" comes out as Liberation Mono,
//     which has the same metrics; GetTextFaceA tells the face actually used.
//     Weight, italic and quality (NONANTIALIASED_QUALITY: no smoothing) are
//     honoured; escapement, orientation, underline, strike-out, character
//     set and precision are not (nothing here draws rotated or underlined
//     text);
//   - DrawTextA (UTF-8) and DrawTextW honour DT_LEFT/CENTER/RIGHT,
//     DT_TOP/VCENTER/BOTTOM (vertical placement with DT_SINGLELINE, as in
//     GDI), DT_SINGLELINE, DT_NOCLIP and DT_CALCRECT; without DT_SINGLELINE
//     a line feed starts a new line. Text is drawn in the text colour, on a
//     box of the background colour unless the background mode is TRANSPARENT;
//   - FillRect takes a brush or, as on Windows, a system colour index + 1
//     ((HBRUSH)(COLOR_WINDOW + 1)). The system window colour is white.
//
// Handles are checked: a call on a handle that is not (or no longer) a live
// object of its kind fails (FALSE, 0, null, CLR_INVALID) instead of touching
// freed memory. An object deleted while selected into a device context stays
// until it is deselected or the context is deleted, so deleting a bitmap
// before its context (as the overlay bitmap does) is safe.
//
// Threads: every call holds one process-wide GDI lock for its duration, so
// that several threads may draw into one context (the overlay painter thread
// and the host's thread), each call whole. A call on a window context also
// takes that window's surface lock, inside the GDI lock: whoever holds a
// surface lock must not call GDI.
#pragma once

#include "os/kernel/Kernel.h"
#include "os/window/WinDef.h"

#include <cstdint>
#include <string>

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// DrawText formats.
constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;

// Pen styles.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_NULL = 5;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

// System colours.
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;

// Font numbers of CreateFontA.
constexpr int FW_DONTCARE = 0;
constexpr int FW_NORMAL = 400;
constexpr int FW_SEMIBOLD = 600;
constexpr int FW_BOLD = 700;
constexpr DWORD ANSI_CHARSET = 0;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD NONANTIALIASED_QUALITY = 3;
constexpr DWORD ANTIALIASED_QUALITY = 4;
constexpr DWORD DEFAULT_PITCH = 0;
constexpr DWORD FIXED_PITCH = 1;
constexpr DWORD FF_DONTCARE = 0x00;
constexpr DWORD FF_MODERN = 0x30;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

namespace os {
// Largest bitmap side (Cairo's limit) and size in bytes.
constexpr int kMaxBitmapSide = 32767;
constexpr size_t kMaxBitmapBytes = size_t{256} << 20;
// Fonts resolved through fontconfig are kept for reuse, up to this many.
constexpr size_t kMaxCachedFonts = 32;
// Cell height of the stock fonts and of CreateFontA with height 0.
constexpr int kDefaultFontHeight = 16;
} // namespace os

// Device contexts.
// A context drawing into the window's client area (children: their part of
// the top-level surface); a null window gives a screen context, which draws
// nothing but serves CreateCompatibleDC. ReleaseDC invalidates the window,
// so what was drawn gets presented.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// A memory context holding a 1 x 1 bitmap until another is selected.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// A colour bitmap of width x height, black; null for a size of 0 or beyond
// the limits above.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);

// Objects.
// Returns the object of the same kind that was selected before; null on
// failure (a bitmap into a window context, or a bitmap that another context
// holds).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int index);
HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
DWORD GetSysColor(int index);
// A shared brush of the system colour; DeleteObject leaves it alone.
HBRUSH GetSysColorBrush(int index);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, LPCSTR faceName);
// The family name of the selected font's face as resolved here (UTF-8),
// cut to size - 1 bytes; the result is the length copied, 0 on failure.
int GetTextFaceA(HDC dc, int size, char* faceName);

// State.
int SetBkMode(HDC dc, int mode);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF SetTextColor(HDC dc, COLORREF color);

// Drawing. DrawText: length -1 for a null-terminated text; returns the
// height of the text, or with DT_VCENTER / DT_BOTTOM the offset from
// rect->top to the bottom of the text; 0 on failure.
int DrawTextA(HDC dc, LPCSTR text, int length, RECT* rect, UINT format);
int DrawTextW(HDC dc, LPCWSTR text, int length, RECT* rect, UINT format);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
COLORREF GetPixel(HDC dc, int x, int y);

namespace os {
// The size of what a context draws into (the selected bitmap, the window's
// client area); {0, 0} for a screen context or a bad handle.
SIZE DcSize(HDC dc);
// Copies src of what the context draws into to dst (B, G, R, X bytes, rows
// dstStride bytes apart). FALSE, copying nothing, unless src lies wholly
// inside. This is how the video mixer takes the overlay bitmap.
BOOL CopyDcPixels(HDC dc, const RECT& src, uint8_t* dst, int dstStride);
// Writes a window's client area as a PNG file.
BOOL SaveWindowPng(HWND window, const std::string& path);
// Frees the layer's state, stock objects included, when the library that
// holds it is unloaded: nothing may draw or hold a GDI handle afterwards.
void ReleaseGdiState();
} // namespace os
