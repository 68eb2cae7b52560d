// Hostile parameter CGI replies: the reply-line parser on every line, and
// CReplyParser's Query and Update filing a body into a dictionary of keys
// that also come from the input. Checks beyond the sanitizers: no entry is
// ever added, removed or renamed, and no request outgrows the CGI's limit.
//
// Input: byte 0 picks Query or Update and how the body is cut into reads;
// then the keys, one per line, up to the first NUL; the rest is the body
// every request is answered with. With bit 5 of byte 0 set, the same body
// also answers every request of a device set-up (bits 6 and 7 pick the
// dialect), and the stream path is composed from what it concluded.
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CReplyParser.h"
#include "device/CVideoStandardDialect.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/IHttpClient.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CManualEvent.h"
#include "platform/CMediaObj.h"
#include "platform/CSlowHash.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class CReplyClient : public IHttpClient {
public:
    explicit CReplyClient(std::string body, size_t piece) : mBody(std::move(body)), mPiece(piece) {
        SetCancelEvent(&mCancel);
    }
    bool Connect(const std::string&, uint16_t, bool) override { return true; }
    bool Get(const std::string& path) override {
        if (path.size() > CReplyParser::kMaxRequestLength)
            __builtin_trap();
        mPosition = 0;
        return true;
    }
    bool Post(const std::string&, const std::string&) override { return false; }
    bool BeginPost(const std::string&) override { return false; }
    bool Write(const void*, DWORD) override { return false; }
    bool EndPost() override { return true; }
    bool Disconnect() override { return true; }
    bool Read(void* buffer, DWORD* length, bool) override {
        size_t n = std::min<size_t>({*length, mBody.size() - mPosition, mPiece});
        std::memcpy(buffer, mBody.data() + mPosition, n);
        mPosition += n;
        *length = static_cast<DWORD>(n);
        return true;
    }
    bool QueryStatusCode(int* status) override {
        *status = 200;
        return true;
    }
    int GetStatusCode() override { return 200; }
    bool IsConnected() override { return true; }
    DWORD GetLastErrorCode() override { return 0; }
    void SetTimeout(DWORD) override {}
    void SetCredentials(const CHttpCredential&) override {}
    CHttpCredential* GetCredentials() override { return &mCredential; }

private:
    media_util::CManualEvent mCancel;
    CHttpCredential mCredential;
    std::string mBody;
    size_t mPiece;
    size_t mPosition = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t nul = input.find('\0');
    const std::string keyText = input.substr(0, nul);
    const std::string body = nul == std::string::npos ? std::string() : input.substr(nul + 1);

    // Every line of the body through the line parser on its own.
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string name = "n";
        std::string value = "v";
        const int code = ParseReplyLine(std::string_view(body).substr(start, end - start), name, value);
        if (code != kReplyOk && code != kReplyNg && code != kReplyNs && code != kReplyUw &&
            code != kReplyUa && code != kReplyUnknown)
            __builtin_trap();
        start = end + 1;
    }

    media_util::CSlowHash params;
    size_t keyStart = 0;
    while (keyStart <= keyText.size() && params.GetCount() < 40) {
        size_t end = keyText.find('\n', keyStart);
        if (end == std::string::npos)
            end = keyText.size();
        params.Add(keyText.substr(keyStart, end - keyStart), (control & 2) ? "1" : "");
        keyStart = end + 1;
    }
    std::vector<std::string> keys;
    for (size_t i = 0; i < params.GetCount(); ++i)
        keys.push_back(params.GetKeyAt(i));

    static const size_t kPieces[] = {1, 2, 7, 8192};
    CReplyClient client(body, kPieces[(control >> 2) & 3]);
    CHttpLink link(&client);
    CUrl url;
    url.Crack("http://127.0.0.1:8080/");
    CReplyParser parser(&link, &url, (control & 16) ? "/api.htm?" : "/vb.htm?");
    if (control & 1)
        parser.Update(params);
    else
        parser.Query(params);

    if (params.GetCount() != keys.size())
        __builtin_trap();
    for (size_t i = 0; i < keys.size(); ++i) {
        if (params.GetKeyAt(i) != keys[i])
            __builtin_trap();
    }

    if ((control & 32) == 0)
        return 0;
    // 5751: profile queries; 4608: the default queries; 8776 and 5124: the
    // recorders' size query and picture; 12292 the video-standard state.
    static const int32_t kModels[] = {5751, 4608, 8776, 5124, 12292};
    const int32_t model = kModels[((control >> 6) & 3) + (keys.size() & 1 ? 1 : 0)];
    std::unique_ptr<CDeviceProfile> profile;
    switch (media_util::CMachineCodeConvert::GetDeviceType(model)) {
    case media_util::CMachineCodeConvert::kTypeMultiChannel:
        profile.reset(new CMultiChannelDialect(model, 4));
        break;
    case media_util::CMachineCodeConvert::kTypeVideoStandard:
        profile.reset(new CVideoStandardDialect(model));
        break;
    default:
        profile.reset(new CProfileQueryDialect(model));
        break;
    }
    profile->mChannel = static_cast<int32_t>(keys.size() % 5);
    profile->mPlaybackChannels = keyText.substr(0, 32);
    media_util::CMediaObj wishes;
    wishes.mProfileId = static_cast<int32_t>(keys.size());
    profile->SetUp(&link, &url, &wishes);
    std::string path;
    profile->ComposeStreamPath(path);
    return 0;
}
