// The layout text a camera keeps for its video ("getlayouturl"): Base64 with
// "+" "=" "/" spelt "^" "@" "$", of UTF-8 text, decoded by the viewer and
// drawn over the video as a caption where the layout number puts it.
//
// On any value: the decoded text never exceeds the viewer's limit. The input
// is also taken as the UTF-8 text itself: spelt the device's way it must
// decode to exactly that text (cut to the limit). With bit 0 of byte 0 set,
// the decoded text is drawn into a small picture with the alignments of
// bits 1-3 and 4-6, as the viewer draws it.
//
// Input: byte 0 as above; the rest is the value.
#include "FuzzSupport.h"
#include "os/gdi/Gdi.h"
#include "platform/CBase64Helper.h"
#include "render/COverlayTextWorker.h"
#include "viewer/CViewer.h"

using fuzz::Check;

namespace {

std::string SpeltAsDevice(std::string base64) {
    for (char& c : base64)
        c = c == '+' ? '^' : c == '=' ? '@' : c == '/' ? '$' : c;
    return base64;
}

// A memory context of the size of a small video, made once.
HDC CaptionContext() {
    static HDC dc = [] {
        HDC context = CreateCompatibleDC(nullptr);
        SelectObject(context, CreateCompatibleBitmap(context, 176, 144));
        return context;
    }();
    return dc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t layout = data[0];
    const std::string value(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::wstring text = CViewer::DecodeLayoutText(value);
    Check(text.size() <= CViewer::kMaxLayoutText);

    const std::wstring expected = os::Utf8ToWide(value).substr(0, CViewer::kMaxLayoutText);
    const std::string spelt = SpeltAsDevice(media_util::CBase64Helper::Encode(value));
    Check(CViewer::DecodeLayoutText(spelt) == expected);

    if (layout & 1) {
        const RECT video{0, 0, 176, 144};
        COverlayTextWorker::DrawCaption(CaptionContext(), text, (layout >> 1) & 7, (layout >> 4) & 7, video);
    }
    return 0;
}
