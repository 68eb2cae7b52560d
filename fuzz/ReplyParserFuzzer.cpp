// Hostile parameter CGI replies: the reply-line parser on every line, and
// CReplyParser's Query and Update filing a body into a dictionary of keys
// that also come from the input. Checks beyond the sanitizers: no entry is
// ever added, removed or renamed, and no request outgrows the CGI's limit.
//
// Input: byte 0 picks Query or Update and how the answers are cut into reads;
// then the keys, one per line, up to the first NUL; the rest are the answers
// to the requests in turn, separated by NULs, the last one answering every
// request beyond. With bit 5 of byte 0 set, the answers go on through the
// requests of a device set-up (bits 6 and 7 pick the dialect), whose steps
// each get an answer of their own, and the stream path is composed from what
// it concluded.
#include "FuzzSupport.h"
#include "device/CMultiChannelDialect.h"
#include "device/CProfileQueryDialect.h"
#include "device/CReplyParser.h"
#include "device/CVideoStandardDialect.h"
#include "net/CHttpLink.h"
#include "net/CUrl.h"
#include "platform/CMachineCodeConvert.h"
#include "platform/CMediaObj.h"
#include "platform/CSlowHash.h"

#include <memory>

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t nul = input.find('\0');
    const std::string keyText = input.substr(0, nul);
    const std::string_view rest =
        nul == std::string::npos ? std::string_view() : std::string_view(input).substr(nul + 1);
    std::vector<std::string> bodies;
    fuzz::ForEachPiece(rest, std::string_view("\0", 1),
                       [&bodies](const std::string& b) { bodies.push_back(b); });

    // Every line of every answer through the line parser on its own.
    for (const std::string& body : bodies)
        fuzz::ForEachPiece(body, "\n", [](const std::string& line) {
            std::string name = "n", value = "v";
            const int code = ParseReplyLine(line, name, value);
            Check(code == kReplyOk || code == kReplyNg || code == kReplyNs || code == kReplyUw ||
                  code == kReplyUa || code == kReplyUnknown);
        });

    media_util::CSlowHash params;
    fuzz::ForEachPiece(keyText, "\n", [&](const std::string& key) {
        if (params.GetCount() < 40)
            params.Add(key, (control & 2) ? "1" : "");
    });
    std::vector<std::string> keys;
    for (size_t i = 0; i < params.GetCount(); ++i)
        keys.push_back(params.GetKeyAt(i));

    static const size_t kPieces[] = {1, 2, 7, 8192};
    fuzz::CPieceClient client(std::vector<std::string_view>(bodies.begin(), bodies.end()),
                              {kPieces[(control >> 2) & 3]}, nullptr, CReplyParser::kMaxRequestText);
    CHttpLink link(&client);
    CUrl url;
    url.Crack("http://127.0.0.1:8080/");
    CReplyParser parser(&link, &url, (control & 16) ? "/api.htm?" : "/vb.htm?");
    if (control & 1)
        parser.Update(params);
    else
        parser.Query(params);

    Check(params.GetCount() == keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        Check(params.GetKeyAt(i) == keys[i]);

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
