// Multipart stream reading on hostile bytes: the stream comes through a
// scripted link whose read sizes the input also chooses, so boundary lines,
// header lines and data are split at arbitrary points. The parser must never
// read outside its head buffer, never hold more than it, never hang and
// deliver only parts whose data is exactly their Content-Length.
//
// Input: byte 0 = how many read-size bytes follow (low 4 bits); each gives
// one read's size (cycled); the rest is what the device sends.
#include "net/CHttpLink.h"
#include "net/IHttpClient.h"
#include "platform/CMediaQueue.h"
#include "source/CMultipartSource.h"
#include "source/ISourceClock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct SInput {
    std::vector<size_t> pieces;
    const uint8_t* stream = nullptr;
    size_t length = 0;
    int opens = 0;
};

class CScriptClient : public IHttpClient {
public:
    explicit CScriptClient(SInput& input) : mInput(input) {}
    bool Connect(const std::string&, uint16_t, bool) override {
        // One replay and one reconnect, so the reconnect path runs too.
        mConnected = mInput.opens++ < 2;
        return mConnected;
    }
    bool Get(const std::string&) override {
        mPosition = 0;
        return mConnected;
    }
    bool Post(const std::string&, const std::string&) override { return false; }
    bool BeginPost(const std::string&) override { return false; }
    bool Write(const void*, DWORD) override { return false; }
    bool EndPost() override { return true; }
    bool Disconnect() override {
        mConnected = false;
        return true;
    }
    bool Read(void* buffer, DWORD* length, bool fill) override {
        size_t delivered = 0;
        while (mConnected && delivered < *length && mPosition < mInput.length) {
            size_t n = std::min<size_t>(*length - delivered, mInput.length - mPosition);
            if (!mInput.pieces.empty())
                n = std::min(n, mInput.pieces[mRead++ % mInput.pieces.size()]);
            std::memcpy(static_cast<uint8_t*>(buffer) + delivered, mInput.stream + mPosition, n);
            mPosition += n;
            delivered += n;
            if (!fill)
                break;
        }
        *length = static_cast<DWORD>(delivered);
        return delivered > 0;
    }
    bool QueryStatusCode(int* status) override {
        *status = 200;
        return true;
    }
    int GetStatusCode() override { return 200; }
    bool IsConnected() override { return mConnected; }
    DWORD GetLastErrorCode() override { return 0; }
    void SetTimeout(DWORD) override {}
    void SetCredentials(const CHttpCredential& c) override { c.CopyTo(mCredential); }
    CHttpCredential* GetCredentials() override { return &mCredential; }

private:
    SInput& mInput;
    CHttpCredential mCredential;
    bool mConnected = false;
    size_t mPosition = 0;
    size_t mRead = 0;
};

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
    SInput input;
    const size_t count = std::min<size_t>(data[0] & 0x0F, size - 1);
    for (size_t i = 0; i < count; ++i)
        input.pieces.push_back(size_t(data[1 + i]) * 8 + 1);
    input.stream = data + 1 + count;
    input.length = size - 1 - count;

    CNoWaitClock clock;
    media_util::CMediaQueue queue(100000);
    CMultipartSource source;
    source.SetClock(&clock);
    source.SetOutputQueue(&queue);
    source.SetClientFactory([&input](int, const std::string&, const std::string&,
                                     media_util::CManualEvent* cancel, CHttpLink** link,
                                     IHttpClient** client) {
        auto* made = new CScriptClient(input);
        made->SetCancelEvent(cancel);
        *client = made;
        *link = new CHttpLink(made);
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
    const size_t maxPasses = 4 * (input.length + 16);
    for (size_t i = 0; i < maxPasses && source.IsRunning(); ++i) {
        source.Job();
        if (source.GetBufferedCount() > CMultipartSource::kHeadBufferSize)
            std::abort();
    }
    if (source.IsRunning())
        std::abort(); // the input is used up: the source must have given up
    while (media_util::CMediaObj* o = queue.Deque()) {
        const int32_t length = o->mpData2 ? o->mDataLength2 : o->mDataLength;
        if (length <= 0 || length > int32_t(input.length))
            std::abort();
        delete o;
    }
    source.Final();
    return 0;
}
