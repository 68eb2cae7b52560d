#include "render/COverlayTextWorker.h"

#include "os/gdi/Gdi.h"
#include "platform/CLockWrap.h"

#include <algorithm>

COverlayTextWorker::~COverlayTextWorker() {
    Stop();
}

void COverlayTextWorker::SetTargets(IOverlayPainter* painter, IOverlayTarget* renderer) {
    media_util::CLockWrap lock(mLock);
    mpPainter = painter;
    mpRenderer = renderer;
}

void COverlayTextWorker::SetText(const wchar_t* text, int flags, const RECT& rect) {
    media_util::CLockWrap lock(mLock);
    mText = text ? text : L"";
    mEnabled = flags & 1;
    mHorizontal = (flags >> 1) & 7;
    mVertical = (flags >> 4) & 7;
    mRect = rect;
}

int COverlayTextWorker::CaptionSize(int rectWidth) {
    return std::clamp(rectWidth / kSizeDivisor, kMinSize, kMaxSize);
}

UINT COverlayTextWorker::CaptionFormat(int horizontal, int vertical) {
    UINT format = DT_SINGLELINE;
    if (horizontal == kAlignCentre)
        format |= DT_CENTER;
    else if (horizontal == kAlignFar)
        format |= DT_RIGHT;
    if (vertical == kAlignCentre)
        format |= DT_VCENTER;
    else if (vertical == kAlignFar)
        format |= DT_BOTTOM;
    return format;
}

void COverlayTextWorker::DrawCaption(HDC dc, const std::wstring& text, int horizontal, int vertical,
                                     const RECT& rect) {
    if (!dc)
        return;
    SetBkMode(dc, TRANSPARENT);
    const int size = CaptionSize(rect.right - rect.left);
    HFONT font =
        CreateFontA(size * 9 / 4, size - 1, 0, 0, kCaptionWeight, 0, 0, 0, DEFAULT_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, kCaptionFace);
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    const UINT format = CaptionFormat(horizontal, vertical);
    const RECT box{rect.left + kCaptionInset, rect.top + kCaptionInset, rect.right - kCaptionInset,
                   rect.bottom - kCaptionInset};
    // The outline: black copies shifted by one pixel towards each corner, so
    // the caption reads over bright and dark video alike.
    static const POINT shifts[] = {{-1, -1}, {1, 1}, {-1, 1}, {1, -1}};
    SetTextColor(dc, kOutlineColor);
    for (const POINT& s : shifts) {
        RECT r{box.left + s.x, box.top + s.y, box.right + s.x, box.bottom + s.y};
        DrawTextW(dc, text.c_str(), -1, &r, format);
    }
    SetTextColor(dc, kFillColor);
    RECT r = box;
    DrawTextW(dc, text.c_str(), -1, &r, format);
    if (previous)
        SelectObject(dc, previous);
    if (font)
        DeleteObject(font);
}

int COverlayTextWorker::Job() {
    IOverlayPainter* painter;
    IOverlayTarget* renderer;
    std::wstring text;
    int enabled, horizontal, vertical;
    RECT rect;
    {
        media_util::CLockWrap lock(mLock);
        painter = mpPainter;
        renderer = mpRenderer;
        text = mText;
        enabled = mEnabled;
        horizontal = mHorizontal;
        vertical = mVertical;
        rect = mRect;
    }
    if (!painter) {
        // Nothing to keep fresh: the worker ends itself.
        NotifyStop();
        return 0;
    }
    painter->Paint();
    if (renderer) {
        if (enabled)
            DrawCaption(renderer->GetOverlayDC(), text, horizontal, vertical, rect);
        renderer->ApplyOverlay();
    }
    mPasses.fetch_add(1);
    return mStopEvent.Wait(kRefreshIntervalMs);
}
