#include "device/CReplyParser.h"

#include "net/CHttpLink.h"
#include "platform/CMemoryStream.h"
#include "platform/CStrUtil.h"

using media_util::CMemoryStream;
using media_util::CSlowHash;
using media_util::CStrUtil;

namespace {

struct SStatusWord {
    std::string_view word;
    int code;
};
constexpr SStatusWord kStatusWords[] = {
    {"OK", kReplyOk}, {"NG", kReplyNg}, {"NS", kReplyNs}, {"UW", kReplyUw}, {"UA", kReplyUa},
};

int StatusCode(std::string_view word) {
    for (const SStatusWord& entry : kStatusWords) {
        if (entry.word == word)
            return entry.code;
    }
    return kReplyUnknown;
}

// Calls fn for every line of body (cut at LF, the LF not included). A body
// is walked in place: a device that sends megabytes of short lines must not
// make us hold a string object per line.
template <typename Fn> void ForEachLine(const CMemoryStream& body, Fn fn) {
    const char* data = reinterpret_cast<const char*>(body.GetBuffer());
    const std::string_view text(data, body.GetLength());
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        fn(text.substr(position, end - position));
        position = end + 1;
    }
}

} // namespace

int ParseReplyLine(std::string_view line, std::string& name, std::string& value) {
    const size_t firstBlank = line.find(' ');
    if (firstBlank == std::string_view::npos)
        return kReplyUnknown;
    const std::string_view word = line.substr(0, firstBlank);
    std::string_view pair = line.substr(firstBlank + 1);
    const size_t secondBlank = pair.find(' ');
    if (secondBlank != std::string_view::npos)
        pair = pair.substr(0, secondBlank);

    const int code = StatusCode(word);
    if (!CStrUtil::SeparatePair(pair, "=", name, value))
        value.assign(word);
    return code;
}

CReplyParser::CReplyParser(CHttpLink* link, CUrl* deviceUrl, std::string cgiPath)
    : mpLink(link), mCgiPath(std::move(cgiPath)) {
    SetDeviceUrl(deviceUrl);
}

void CReplyParser::SetDeviceUrl(CUrl* deviceUrl) {
    if (deviceUrl != nullptr)
        deviceUrl->CopyTo(&mRequestUrl);
}

int CReplyParser::Query(CSlowHash& params) {
    return Run(params, Mode::Query);
}

int CReplyParser::Update(CSlowHash& params) {
    return Run(params, Mode::Update);
}

int CReplyParser::QueryOne(const std::string& key, std::string& out) {
    CSlowHash params;
    params.Add(key, "");
    const int result = Query(params);
    out = params.GetValueAt(0);
    return result;
}

int CReplyParser::UpdateOne(const std::string& key, std::string& value) {
    CSlowHash params;
    params.Add(key, value);
    const int result = Update(params);
    value = params.GetValueAt(0);
    return result;
}

size_t CReplyParser::BuildRequest(const CSlowHash& params, size_t first, Mode mode) {
    std::string& request = mRequestUrl.mRequestPath;
    request = mCgiPath;
    size_t added = 0;
    for (size_t index = first; index < params.GetCount() && request.size() < kMaxRequestLength &&
                               added < static_cast<size_t>(kMaxEntriesPerRequest);
         ++index) {
        const std::string& key = params.GetKeyAt(index);
        const size_t separator = added > 0 ? 1 : 0;
        // The limit counts what the entry carries, its key (and an update's
        // value), not the "&" and "=" that join them.
        size_t length = key.size();
        bool addEquals = false;
        if (mode == Mode::Update) {
            // A key may carry its own "=" ("b=2" with no value, or an
            // indexed key "getjpegxsize=1"): a second one would change the
            // parameter's name on the device.
            addEquals = key.find('=') == std::string::npos;
            length += params.GetValueAt(index).size();
        }
        if (request.size() + length > kMaxRequestLength)
            break;
        if (separator)
            request += '&';
        request += key;
        if (mode == Mode::Update) {
            if (addEquals)
                request += '=';
            request += params.GetValueAt(index);
        }
        ++added;
    }
    return added;
}

void CReplyParser::FileQueryLine(CSlowHash& params, const std::string& line, size_t& filed) {
    std::string name;
    std::string value;
    if (ParseReplyLine(line, name, value) == kReplyUnknown)
        return;
    if (params.IsContainKey(name)) {
        params.Add(name, line);
    } else {
        const int prefixed = params.GetKeyStartWith(name + "=");
        if (prefixed >= 0)
            params.SetValueAt(static_cast<size_t>(prefixed), line);
        else if (filed < params.GetCount())
            params.SetValueAt(filed, line);
    }
    ++filed;
}

int CReplyParser::Run(CSlowHash& params, Mode mode) {
    const size_t count = params.GetCount();
    size_t next = 0;
    // Lines filed so far by this call, over all its requests: Query files an
    // unnamed line by this position, Update every line.
    size_t filed = 0;
    while (next < count) {
        const size_t added = BuildRequest(params, next, mode);
        if (added == 0)
            return 0;
        CMemoryStream body;
        if (mpLink == nullptr || !mpLink->FetchInto(mRequestUrl, body))
            return 0;
        next += added;
        ForEachLine(body, [&](std::string_view raw) {
            if (raw.empty())
                return;
            const std::string line = CStrUtil::Trim(raw);
            if (mode == Mode::Query) {
                FileQueryLine(params, line, filed);
                return;
            }
            if (filed < count)
                params.SetValueAt(filed++, line);
        });
    }
    return 1;
}
