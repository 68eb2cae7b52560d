#include "os/gdi/Gdi.h"

#include "os/window/Window.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace os {

// A resolved font face and its proportions, measured once per face: the
// cell height (ascent + descent) and the width of "x", per unit of em.
struct FontFace {
    cairo_font_face_t* face = nullptr; // one reference held by each owner
    std::string family;
    double ascent = 0.8;
    double descent = 0.2;
    double xWidth = 0.5;
};

class GdiObject {
public:
    enum class Kind { Bitmap, Pen, Brush, Font };
    explicit GdiObject(Kind k) : kind(k) {}
    ~GdiObject() {
        if (surface)
            cairo_surface_destroy(surface);
        if (font.face)
            cairo_font_face_destroy(font.face);
    }

    const Kind kind;
    bool stock = false;
    int selections = 0;         // contexts holding it
    bool deletePending = false; // deleted while selected

    // Bitmap.
    cairo_surface_t* surface = nullptr;
    // Pen and brush.
    int penStyle = PS_SOLID;
    int penWidth = 1;
    COLORREF color = 0;
    bool hollow = false; // NULL_BRUSH
    // Font: em sizes in pixels, metrics rounded as GDI's text metrics are.
    FontFace font;
    double emX = 0;
    double emY = 0;
    bool smooth = true;
};

class DeviceContext {
public:
    HWND window = nullptr;             // window context; null for memory and screen contexts
    bool memory = false;               // memory context
    cairo_surface_t* target = nullptr; // window contexts: the client area
    GdiObject* ownBitmap = nullptr;    // memory contexts: the 1 x 1 bitmap they start with
    GdiObject* bitmap = nullptr;
    GdiObject* pen = nullptr;
    GdiObject* brush = nullptr;
    GdiObject* font = nullptr;
    int bkMode = OPAQUE;
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
    POINT position{0, 0};
};

namespace {

// The layer's state. Made once and never destroyed, so that a thread still
// drawing while the process exits finds it whole, and the stock objects it
// holds stay reachable to the end.
struct GdiState {
    std::recursive_mutex lock;
    std::unordered_set<GdiObject*> objects;
    std::unordered_set<DeviceContext*> contexts;
    std::map<std::tuple<std::string, int, bool>, FontFace> fontCache;
    std::map<int, GdiObject*> sysColorBrushes;
};
GdiState* gpState = nullptr;
GdiState& State() {
    if (gpState == nullptr)
        gpState = new GdiState();
    return *gpState;
}
std::recursive_mutex& gGdiLock = State().lock;
std::unordered_set<GdiObject*>& gObjects = State().objects;
std::unordered_set<DeviceContext*>& gContexts = State().contexts;
std::map<std::tuple<std::string, int, bool>, FontFace>& gFontCache = State().fontCache;

GdiObject* LiveObject(HGDIOBJ h) {
    return h && gObjects.count(h) ? h : nullptr;
}
DeviceContext* LiveContext(HDC h) {
    return h && gContexts.count(h) ? h : nullptr;
}

GdiObject* NewObject(GdiObject::Kind kind) {
    auto* o = new GdiObject(kind);
    gObjects.insert(o);
    return o;
}

void FreeObject(GdiObject* o) {
    gObjects.erase(o);
    delete o;
}

cairo_surface_t* NewBitmapSurface(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
        static_cast<size_t>(width) * static_cast<size_t>(height) * 4 > kMaxBitmapBytes)
        return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s; // Cairo clears new image surfaces: black
}

FontFace ResolveFace(const std::string& name, int weight, bool italic) {
    const auto key = std::make_tuple(name, weight, italic);
    auto it = gFontCache.find(key);
    if (it != gFontCache.end()) {
        cairo_font_face_reference(it->second.face); // the caller's reference
        return it->second;
    }

    FontFace f;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match) {
        FcChar8* family = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family)
            f.family = reinterpret_cast<const char*>(family);
        f.face = cairo_ft_font_face_create_for_pattern(match);
        FcPatternDestroy(match);
    }
    if (!f.face || cairo_font_face_status(f.face) != CAIRO_STATUS_SUCCESS) {
        if (f.face)
            cairo_font_face_destroy(f.face);
        // No fontconfig answer: Cairo's own choice of a monospaced face.
        f.face = cairo_toy_font_face_create(
            "monospace", italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
            weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        f.family = "monospace";
    }

    // Proportions measured at a large size without hinting, so that rounding
    // does not bend them.
    const double probe = 1000.0;
    cairo_matrix_t m, identity;
    cairo_matrix_init_scale(&m, probe, probe);
    cairo_matrix_init_identity(&identity);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_scaled_font_t* scaled = cairo_scaled_font_create(f.face, &m, &identity, options);
    cairo_font_options_destroy(options);
    if (cairo_scaled_font_status(scaled) == CAIRO_STATUS_SUCCESS) {
        cairo_font_extents_t fe;
        cairo_scaled_font_extents(scaled, &fe);
        cairo_text_extents_t te;
        cairo_scaled_font_text_extents(scaled, "x", &te);
        if (fe.ascent > 0 && fe.descent >= 0) {
            f.ascent = fe.ascent / probe;
            f.descent = fe.descent / probe;
        }
        if (te.x_advance > 0)
            f.xWidth = te.x_advance / probe;
    }
    cairo_scaled_font_destroy(scaled);

    if (gFontCache.size() >= kMaxCachedFonts) {
        for (auto& e : gFontCache)
            cairo_font_face_destroy(e.second.face);
        gFontCache.clear();
    }
    gFontCache.emplace(key, f); // the cache's reference
    cairo_font_face_reference(f.face);
    return f; // the caller's reference
}

GdiObject* NewFont(int height, int width, int weight, bool italic, DWORD quality, const std::string& face) {
    GdiObject* o = NewObject(GdiObject::Kind::Font);
    o->font =
        ResolveFace(face.empty() ? std::string("sans-serif") : face, weight > 0 ? weight : FW_NORMAL, italic);
    const double cell = o->font.ascent + o->font.descent;
    if (height > 0)
        o->emY = height / cell;
    else if (height < 0)
        o->emY = -height;
    else
        o->emY = kDefaultFontHeight / cell;
    o->emX = width > 0 ? width / o->font.xWidth : o->emY;
    o->smooth = quality != NONANTIALIASED_QUALITY;
    return o;
}

GdiObject* Stock(int index) {
    // Made on first use and never freed, as Windows' stock objects.
    static GdiObject* objects[18] = {};
    if (index < 0 || index >= 18)
        return nullptr;
    if (objects[index])
        return objects[index];
    GdiObject* o = nullptr;
    switch (index) {
    case WHITE_BRUSH:
    case LTGRAY_BRUSH:
    case GRAY_BRUSH:
    case DKGRAY_BRUSH:
    case BLACK_BRUSH: {
        static const COLORREF colors[] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                          RGB(64, 64, 64), RGB(0, 0, 0)};
        o = NewObject(GdiObject::Kind::Brush);
        o->color = colors[index];
        break;
    }
    case NULL_BRUSH:
        o = NewObject(GdiObject::Kind::Brush);
        o->hollow = true;
        break;
    case WHITE_PEN:
    case BLACK_PEN:
        o = NewObject(GdiObject::Kind::Pen);
        o->color = index == WHITE_PEN ? RGB(255, 255, 255) : RGB(0, 0, 0);
        break;
    case NULL_PEN:
        o = NewObject(GdiObject::Kind::Pen);
        o->penStyle = PS_NULL;
        break;
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT:
        o = NewFont(kDefaultFontHeight, 0, FW_NORMAL, false, DEFAULT_QUALITY, "sans-serif");
        break;
    default:
        return nullptr;
    }
    o->stock = true;
    objects[index] = o;
    return o;
}

COLORREF SysColor(int index) {
    switch (index) {
    case COLOR_WINDOW:
    case COLOR_HIGHLIGHTTEXT:
        return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
        return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT:
        return RGB(0, 120, 215);
    case COLOR_BTNFACE:
        return RGB(240, 240, 240);
    case COLOR_GRAYTEXT:
        return RGB(109, 109, 109);
    default:
        return RGB(255, 255, 255);
    }
}
constexpr int kLastSysColor = 30;

void Select(DeviceContext*, GdiObject*& slot, GdiObject* object) {
    GdiObject* old = slot;
    slot = object;
    ++object->selections;
    if (old) {
        --old->selections;
        if (old->selections == 0 && old->deletePending)
            FreeObject(old);
    }
}

void Deselect(GdiObject*& slot) {
    if (!slot)
        return;
    GdiObject* old = slot;
    slot = nullptr;
    --old->selections;
    if (old->selections == 0 && old->deletePending)
        FreeObject(old);
}

// A Cairo context on what dc draws into, holding the window's surface lock
// for a window context. Empty (cr null) when there is nothing to draw on.
class Canvas {
public:
    explicit Canvas(DeviceContext* dc) {
        cairo_surface_t* s = nullptr;
        if (dc->memory && dc->bitmap)
            s = dc->bitmap->surface;
        else if (dc->window && dc->target) {
            mLock = std::make_unique<Window::SurfaceLock>(dc->window);
            s = dc->target;
        }
        if (!s)
            return;
        mSurface = s;
        cr = cairo_create(s);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    }
    ~Canvas() {
        if (cr) {
            cairo_destroy(cr);
            cairo_surface_flush(mSurface);
        }
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr = nullptr;

private:
    std::unique_ptr<Window::SurfaceLock> mLock;
    cairo_surface_t* mSurface = nullptr;
};

void SetColor(cairo_t* cr, COLORREF c) {
    cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

void FillBox(cairo_t* cr, int left, int top, int right, int bottom, COLORREF color) {
    if (right <= left || bottom <= top)
        return;
    SetColor(cr, color);
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_fill(cr);
}

// Prepares cr for stroking with the pen; false for a pen that draws nothing.
bool UsePen(cairo_t* cr, const GdiObject* pen) {
    if (!pen || pen->penStyle == PS_NULL)
        return false;
    SetColor(cr, pen->color);
    const int width = std::max(1, pen->penWidth);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, width > 1 ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, width > 1 ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER);
    // GDI styles only one-pixel pens.
    if (width == 1 && pen->penStyle == PS_DASH) {
        const double dash[] = {18, 6};
        cairo_set_dash(cr, dash, 2, 0);
    } else if (width == 1 && pen->penStyle == PS_DOT) {
        const double dot[] = {3, 3};
        cairo_set_dash(cr, dot, 2, 0);
    }
    return true;
}

// Pixel centres for odd pen widths, pixel edges for even ones, so that a
// line covers whole pixels.
double PenOffset(const GdiObject* pen) {
    return (std::max(1, pen->penWidth) % 2) ? 0.5 : 0.0;
}

struct TextLayout {
    int ascent = 0;
    int lineHeight = 0;
};

void UseFont(cairo_t* cr, const GdiObject* font) {
    cairo_set_font_face(cr, font->font.face);
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, font->emX, font->emY);
    cairo_set_font_matrix(cr, &m);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, font->smooth ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

TextLayout Metrics(const GdiObject* font) {
    TextLayout l;
    l.ascent = static_cast<int>(std::lround(font->font.ascent * font->emY));
    const int descent = static_cast<int>(std::lround(font->font.descent * font->emY));
    l.lineHeight = l.ascent + descent;
    return l;
}

std::vector<std::string> SplitLines(const std::string& text, bool single) {
    std::vector<std::string> lines;
    if (single) {
        // One line: line breaks are not drawn.
        std::string t;
        for (char c : text)
            if (c != '\r' && c != '\n')
                t.push_back(c);
        lines.push_back(t);
        return lines;
    }
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(cur);
            cur.clear();
            continue;
        }
        cur.push_back(text[i]);
    }
    lines.push_back(cur);
    return lines;
}

int DrawUtf8(DeviceContext* dc, const std::string& text, RECT* rect, UINT format) {
    GdiObject* font = dc->font ? dc->font : Stock(SYSTEM_FONT);
    const bool single = (format & DT_SINGLELINE) != 0;
    const std::vector<std::string> lines = SplitLines(text, single);
    const TextLayout layout = Metrics(font);

    // Measuring needs a context too; a scratch surface serves contexts
    // that have nothing to draw on.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* measure = cairo_create(scratch);
    UseFont(measure, font);
    std::vector<int> widths;
    int maxWidth = 0;
    for (const std::string& line : lines) {
        cairo_text_extents_t te;
        cairo_text_extents(measure, line.c_str(), &te);
        widths.push_back(static_cast<int>(std::lround(te.x_advance)));
        maxWidth = std::max(maxWidth, widths.back());
    }
    cairo_destroy(measure);
    cairo_surface_destroy(scratch);

    const int totalHeight = layout.lineHeight * static_cast<int>(lines.size());
    if (format & DT_CALCRECT) {
        rect->right = rect->left + maxWidth;
        rect->bottom = rect->top + totalHeight;
        return totalHeight;
    }

    int top = rect->top;
    if (single && (format & DT_VCENTER))
        top = rect->top + (rect->bottom - rect->top - layout.lineHeight) / 2;
    else if (single && (format & DT_BOTTOM))
        top = rect->bottom - layout.lineHeight;

    Canvas canvas(dc);
    if (canvas.cr) {
        cairo_t* cr = canvas.cr;
        if (!(format & DT_NOCLIP)) {
            cairo_rectangle(cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
            cairo_clip(cr);
        }
        UseFont(cr, font);
        for (size_t i = 0; i < lines.size(); ++i) {
            int x = rect->left;
            if (format & DT_CENTER)
                x = rect->left + (rect->right - rect->left - widths[i]) / 2;
            else if (format & DT_RIGHT)
                x = rect->right - widths[i];
            const int y = top + layout.lineHeight * static_cast<int>(i);
            if (dc->bkMode == OPAQUE)
                FillBox(cr, x, y, x + widths[i], y + layout.lineHeight, dc->bkColor);
            SetColor(cr, dc->textColor);
            cairo_move_to(cr, x, y + layout.ascent);
            cairo_show_text(cr, lines[i].c_str());
        }
    }
    if (single && (format & (DT_VCENTER | DT_BOTTOM)))
        return top + layout.lineHeight - rect->top;
    return totalHeight;
}

} // namespace

SIZE DcSize(HDC h) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = LiveContext(h);
    if (!dc)
        return SIZE{0, 0};
    if (dc->memory && dc->bitmap)
        return SIZE{cairo_image_surface_get_width(dc->bitmap->surface),
                    cairo_image_surface_get_height(dc->bitmap->surface)};
    if (dc->window)
        return SIZE{dc->window->Width(), dc->window->Height()};
    return SIZE{0, 0};
}

BOOL CopyDcPixels(HDC h, const RECT& src, uint8_t* dst, int dstStride) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = LiveContext(h);
    if (!dc || !dst)
        return FALSE;
    cairo_surface_t* s = nullptr;
    std::unique_ptr<Window::SurfaceLock> surfaceLock;
    if (dc->memory && dc->bitmap)
        s = dc->bitmap->surface;
    else if (dc->window && dc->target) {
        surfaceLock = std::make_unique<Window::SurfaceLock>(dc->window);
        s = dc->target;
    }
    if (!s)
        return FALSE;
    cairo_surface_flush(s);
    const int w = cairo_image_surface_get_width(s);
    const int hgt = cairo_image_surface_get_height(s);
    if (src.left < 0 || src.top < 0 || src.right > w || src.bottom > hgt || src.right <= src.left ||
        src.bottom <= src.top || dstStride < (src.right - src.left) * 4)
        return FALSE;
    const uint8_t* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = src.top; y < src.bottom; ++y)
        std::memcpy(dst + static_cast<size_t>(y - src.top) * dstStride,
                    data + static_cast<size_t>(y) * stride + src.left * 4,
                    static_cast<size_t>(src.right - src.left) * 4);
    return TRUE;
}

BOOL SaveWindowPng(HWND window, const std::string& path) {
    if (!window)
        return FALSE;
    std::vector<uint8_t> pixels = window->Snapshot();
    cairo_surface_t* s = cairo_image_surface_create_for_data(
        pixels.data(), CAIRO_FORMAT_RGB24, window->Width(), window->Height(), window->Width() * 4);
    const bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS &&
                    cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok ? TRUE : FALSE;
}

} // namespace os

using os::DeviceContext;
using os::GdiObject;
using os::gGdiLock;

HDC GetDC(HWND window) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    auto* dc = new DeviceContext();
    if (window) {
        dc->window = window;
        os::Window::SurfaceLock surface(window);
        const os::SurfaceView& v = surface.View();
        dc->target =
            cairo_image_surface_create_for_data(v.pixels, CAIRO_FORMAT_RGB24, v.width, v.height, v.stride);
    }
    os::Select(dc, dc->pen, os::Stock(BLACK_PEN));
    os::Select(dc, dc->brush, os::Stock(WHITE_BRUSH));
    os::Select(dc, dc->font, os::Stock(SYSTEM_FONT));
    os::gContexts.insert(dc);
    return dc;
}

int ReleaseDC(HWND window, HDC h) {
    HWND invalidate = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(gGdiLock);
        DeviceContext* dc = os::LiveContext(h);
        if (!dc || dc->memory || dc->window != window)
            return 0;
        os::Deselect(dc->pen);
        os::Deselect(dc->brush);
        os::Deselect(dc->font);
        if (dc->target)
            cairo_surface_destroy(dc->target);
        invalidate = dc->window;
        os::gContexts.erase(dc);
        delete dc;
    }
    if (invalidate)
        InvalidateRect(invalidate, nullptr, FALSE);
    return 1;
}

HDC CreateCompatibleDC(HDC h) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    if (h && !os::LiveContext(h))
        return nullptr;
    GdiObject* own = os::NewObject(GdiObject::Kind::Bitmap);
    own->surface = os::NewBitmapSurface(1, 1);
    auto* dc = new DeviceContext();
    dc->memory = true;
    dc->ownBitmap = own;
    os::Select(dc, dc->bitmap, own);
    os::Select(dc, dc->pen, os::Stock(BLACK_PEN));
    os::Select(dc, dc->brush, os::Stock(WHITE_BRUSH));
    os::Select(dc, dc->font, os::Stock(SYSTEM_FONT));
    os::gContexts.insert(dc);
    return dc;
}

BOOL DeleteDC(HDC h) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc || !dc->memory)
        return FALSE;
    os::Deselect(dc->bitmap);
    os::Deselect(dc->pen);
    os::Deselect(dc->brush);
    os::Deselect(dc->font);
    if (dc->ownBitmap && os::LiveObject(dc->ownBitmap))
        os::FreeObject(dc->ownBitmap);
    os::gContexts.erase(dc);
    delete dc;
    return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC h, int width, int height) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    if (h && !os::LiveContext(h))
        return nullptr;
    cairo_surface_t* s = os::NewBitmapSurface(width, height);
    if (!s)
        return nullptr;
    GdiObject* o = os::NewObject(GdiObject::Kind::Bitmap);
    o->surface = s;
    return o;
}

HGDIOBJ SelectObject(HDC h, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    GdiObject* o = os::LiveObject(object);
    if (!dc || !o || o->deletePending)
        return nullptr;
    GdiObject** slot = nullptr;
    switch (o->kind) {
    case GdiObject::Kind::Bitmap:
        // Only a memory context holds a bitmap, and a bitmap is in one context at a time.
        if (!dc->memory || (o->selections > 0 && dc->bitmap != o))
            return nullptr;
        slot = &dc->bitmap;
        break;
    case GdiObject::Kind::Pen:
        slot = &dc->pen;
        break;
    case GdiObject::Kind::Brush:
        slot = &dc->brush;
        break;
    case GdiObject::Kind::Font:
        slot = &dc->font;
        break;
    }
    GdiObject* previous = *slot;
    if (previous == o)
        return previous;
    // The previous object may be freed by the deselection when it was
    // deleted meanwhile; then there is nothing to give back.
    const bool previousGoes = previous && previous->deletePending && previous->selections == 1;
    os::Select(dc, *slot, o);
    return previousGoes ? nullptr : previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    GdiObject* o = os::LiveObject(object);
    if (!o || o->deletePending)
        return FALSE;
    if (o->stock)
        return TRUE;
    for (DeviceContext* dc : os::gContexts)
        if (dc->ownBitmap == o)
            return FALSE; // a context's own bitmap goes with the context
    if (o->selections > 0) {
        o->deletePending = true;
        return TRUE;
    }
    os::FreeObject(o);
    return TRUE;
}

HGDIOBJ GetStockObject(int index) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    return os::Stock(index);
}

HPEN CreatePen(int style, int width, COLORREF color) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    GdiObject* o = os::NewObject(GdiObject::Kind::Pen);
    o->penStyle = style;
    o->penWidth = std::max(1, width);
    o->color = color & 0xFFFFFF;
    return o;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    GdiObject* o = os::NewObject(GdiObject::Kind::Brush);
    o->color = color & 0xFFFFFF;
    return o;
}

DWORD GetSysColor(int index) {
    return os::SysColor(index);
}

HBRUSH GetSysColorBrush(int index) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    if (index < 0 || index > os::kLastSysColor)
        return nullptr;
    GdiObject*& b = os::State().sysColorBrushes[index];
    if (!b) {
        b = os::NewObject(GdiObject::Kind::Brush);
        b->color = os::SysColor(index);
        b->stock = true;
    }
    return b;
}

HFONT CreateFontA(int height, int width, int, int, int weight, DWORD italic, DWORD, DWORD, DWORD, DWORD,
                  DWORD, DWORD quality, DWORD, LPCSTR faceName) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    return os::NewFont(height, width, weight, italic != 0, quality, faceName ? faceName : "");
}

int GetTextFaceA(HDC h, int size, char* faceName) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc || !dc->font || size <= 0 || !faceName)
        return 0;
    const std::string& family = dc->font->font.family;
    const size_t n = std::min(family.size(), static_cast<size_t>(size - 1));
    std::memcpy(faceName, family.data(), n);
    faceName[n] = '\0';
    return static_cast<int>(n);
}

int SetBkMode(HDC h, int mode) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    const int old = dc->bkMode;
    dc->bkMode = mode;
    return old;
}

COLORREF SetBkColor(HDC h, COLORREF color) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc)
        return CLR_INVALID;
    const COLORREF old = dc->bkColor;
    dc->bkColor = color & 0xFFFFFF;
    return old;
}

COLORREF SetTextColor(HDC h, COLORREF color) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc)
        return CLR_INVALID;
    const COLORREF old = dc->textColor;
    dc->textColor = color & 0xFFFFFF;
    return old;
}

int DrawTextA(HDC h, LPCSTR text, int length, RECT* rect, UINT format) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc || !text || !rect)
        return 0;
    const std::string t = length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
    return os::DrawUtf8(dc, t, rect, format);
}

int DrawTextW(HDC h, LPCWSTR text, int length, RECT* rect, UINT format) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc || !text || !rect)
        return 0;
    const std::wstring t = length < 0 ? std::wstring(text) : std::wstring(text, static_cast<size_t>(length));
    return os::DrawUtf8(dc, os::WideToUtf8(t), rect, format);
}

BOOL MoveToEx(HDC h, int x, int y, POINT* previous) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc)
        return FALSE;
    if (previous)
        *previous = dc->position;
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL LineTo(HDC h, int x, int y) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc)
        return FALSE;
    const POINT from = dc->position;
    dc->position = POINT{x, y};
    os::Canvas canvas(dc);
    if (!canvas.cr || !os::UsePen(canvas.cr, dc->pen))
        return TRUE;
    // A solid one-pixel line along an axis covers its start pixel up to the
    // one before its end, whichever way it runs: consecutive LineTo calls
    // then meet without gaps or double pixels, as the editors' outlines
    // need. Filled as a box, so the sampling rule of the stroker cannot
    // shift it by a pixel for lines that run left or up.
    if (dc->pen->penWidth <= 1 && dc->pen->penStyle == PS_SOLID && (from.x == x || from.y == y)) {
        const int left = from.x == x ? x : (x > from.x ? from.x : x + 1);
        const int right = from.x == x ? x + 1 : (x > from.x ? x : from.x + 1);
        const int top = from.y == y ? y : (y > from.y ? from.y : y + 1);
        const int bottom = from.y == y ? y + 1 : (y > from.y ? y : from.y + 1);
        if (from.x != x || from.y != y)
            os::FillBox(canvas.cr, left, top, right, bottom, dc->pen->color);
        return TRUE;
    }
    const double o = os::PenOffset(dc->pen);
    cairo_move_to(canvas.cr, from.x + o, from.y + o);
    cairo_line_to(canvas.cr, x + o, y + o);
    cairo_stroke(canvas.cr);
    return TRUE;
}

BOOL Rectangle(HDC h, int left, int top, int right, int bottom) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc)
        return FALSE;
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    os::Canvas canvas(dc);
    if (!canvas.cr)
        return TRUE;
    const bool pen = dc->pen && dc->pen->penStyle != PS_NULL;
    if (dc->brush && !dc->brush->hollow) {
        // Without a pen GDI leaves out the last column and row.
        os::FillBox(canvas.cr, left, top, pen ? right : right - 1, pen ? bottom : bottom - 1,
                    dc->brush->color);
    }
    if (pen && os::UsePen(canvas.cr, dc->pen) && right - left >= 1 && bottom - top >= 1) {
        const double o = os::PenOffset(dc->pen);
        cairo_rectangle(canvas.cr, left + o, top + o, right - left - 1, bottom - top - 1);
        cairo_stroke(canvas.cr);
    }
    return TRUE;
}

int FillRect(HDC h, const RECT* rect, HBRUSH brush) {
    std::lock_guard<std::recursive_mutex> lock(gGdiLock);
    DeviceContext* dc = os::LiveContext(h);
    if (!dc || !rect)
        return 0;
    COLORREF color = 0;
    const uintptr_t value = reinterpret_cast<uintptr_t>(brush);
    if (value >= 1 && value <= static_cast<uintptr_t>(os::kLastSysColor) + 1) {
        color = os::SysColor(static_cast<int>(value - 1)); // (HBRUSH)(COLOR_xxx + 1)
    } else {
        GdiObject* b = os::LiveObject(brush);
        if (!b || b->kind != GdiObject::Kind::Brush)
            return 0;
        if (b->hollow)
            return 1;
        color = b->color;
    }
    os::Canvas canvas(dc);
    if (canvas.cr)
        os::FillBox(canvas.cr, rect->left, rect->top, rect->right, rect->bottom, color);
    return 1;
}

COLORREF GetPixel(HDC h, int x, int y) {
    uint8_t px[4];
    if (!os::CopyDcPixels(h, RECT{x, y, x + 1, y + 1}, px, 4))
        return CLR_INVALID;
    return RGB(px[2], px[1], px[0]);
}

namespace os {

void ReleaseGdiState() {
    if (gpState == nullptr)
        return;
    {
        std::lock_guard<std::recursive_mutex> lock(gpState->lock);
        for (DeviceContext* dc : gpState->contexts)
            delete dc;
        for (GdiObject* o : gpState->objects)
            delete o;
        for (auto& entry : gpState->fontCache)
            if (entry.second.face)
                cairo_font_face_destroy(entry.second.face);
    }
    delete gpState;
    gpState = nullptr;
}

} // namespace os
