// Multipart stream reading on hostile bytes: the stream comes through a
// scripted link whose read sizes the input also chooses, so boundary lines,
// header lines and data are split at arbitrary points. The parser must never
// read outside its head buffer, never hold more than it, never hang and
// deliver only parts whose data is exactly their Content-Length.
//
// Input: byte 0 = how many read-size bytes follow (low 4 bits); each gives
// one read's size (cycled); the rest is what the device sends.
#include "FuzzSupport.h"
#include "net/CHttpLink.h"
#include "platform/CMediaQueue.h"
#include "source/CMultipartSource.h"
#include "source/ISourceClock.h"

using fuzz::Check;

namespace {

class CNoWaitClock : public ISourceClock {
public:
    DWORD Now() override { return mNow; }
    bool WaitEvents(const media_util::CManualEvent* stop, const media_util::CManualEvent* owner,
                    DWORD ms) override {
        mNow += ms;
        return (stop && stop->IsSignalled()) || (owner && owner->IsSignalled());
    }
    DWORD mNow = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t count = std::min<size_t>(data[0] & 0x0F, size - 1);
    std::vector<size_t> pieces;
    for (size_t i = 0; i < count; ++i)
        pieces.push_back(size_t(data[1 + i]) * 8 + 1);
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);
    int connectsLeft = 2; // one replay and one reconnect, so the reconnect path runs too

    CNoWaitClock clock;
    media_util::CMediaQueue queue(100000);
    CMultipartSource source;
    source.SetClock(&clock);
    source.SetOutputQueue(&queue);
    source.SetClientFactory([&](int, const std::string&, const std::string&, media_util::CManualEvent* cancel,
                                CHttpLink** link, IHttpClient** client) {
        *client = new fuzz::CPieceClient(stream, pieces, &connectsLeft);
        (*client)->SetCancelEvent(cancel);
        *link = new CHttpLink(*client);
        return true;
    });
    CSourceDesc desc;
    desc.SetUrlSource("http://127.0.0.1/video.cgi", 1, "", "");
    desc.mPacingMode = CSourceDesc::kPacingRateLimit;
    desc.mAutoRestart = 0;
    source.ApplySettings(&desc);
    source.Init();
    // Every pass consumes input or ends a connection, so this bound is never
    // the reason to stop for a well-behaved parser.
    for (size_t i = 0; i < 4 * (stream.size() + 16) && source.IsRunning(); ++i) {
        source.Job();
        Check(source.GetBufferedCount() <= CMultipartSource::kHeadBufferSize);
    }
    Check(!source.IsRunning()); // the input is used up: the source must have given up
    while (media_util::CMediaObj* o = queue.Deque()) {
        const int32_t length = o->mpData2 ? o->mDataLength2 : o->mDataLength;
        Check(length > 0 && length <= int32_t(stream.size()));
        delete o;
    }
    source.Final();
    return 0;
}
