// Hostile parameter CGI replies: the reply-line parser on every line, and
// CReplyParser's Query and Update filing a body into a dictionary of keys
// that also come from the input. Checks beyond the sanitizers: no entry is
// ever added, removed or renamed, and no request outgrows the CGI's limit.
//
// Input: byte 0 picks Query or Update and how the body is cut into reads;
// then the keys, one per line, up to the first NUL; the rest is the body
// every request is answered with.
#include "device/CReplyParser.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "net/IHttpClient.h"
#include "platform/CManualEvent.h"
#include "platform/CSlowHash.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
    return 0;
}
