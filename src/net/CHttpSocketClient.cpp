#include "net/CHttpSocketClient.h"

#include "net/CSocketAddress.h"
#include "platform/CBase64Helper.h"
#include "platform/CStrUtil.h"

#include <algorithm>
#include <cstring>
#include <memory>

using media_util::CBase64Helper;
using media_util::CStrUtil;

CHttpSocketClient::CHttpSocketClient() : mpSocket(&mSocket) {}

CHttpSocketClient::CHttpSocketClient(CTcpClientSocket* transport)
    : mpSocket(transport ? transport : &mSocket) {}

CHttpSocketClient::~CHttpSocketClient() {
    Disconnect();
}

bool CHttpSocketClient::Connect(const std::string& host, uint16_t port, bool bounded) {
    if (CStrUtil::IsStrNull(host))
        return false;
    Disconnect();
    mHost = host;
    CSocketAddress address;
    address.SetHost(host);
    address.SetPort(port);
    mConnected = mpSocket->Connect(address, bounded);
    return mConnected;
}

bool CHttpSocketClient::Disconnect() {
    if (!mConnected)
        return true;
    mConnected = false;
    mpSocket->Close();
    DropLeftover();
    mChunked = false;
    ResetChunking();
    return true;
}

void CHttpSocketClient::DropLeftover() {
    mLeftover.clear();
    mLeftover.shrink_to_fit();
    mLeftoverPos = 0;
}

void CHttpSocketClient::ResetChunking() {
    mChunkRemaining = 0;
    mChunkState = ChunkState::Size;
    mChunkSizeLength = 0;
    mChunkSizeText[0] = '\0';
}

void CHttpSocketClient::SetCredentials(const CHttpCredential& credential) {
    credential.CopyTo(mCredential);
    CStrUtil::StringClear(mAuthorization);
    // Without a user name there is nothing to authenticate with: no
    // Authorization line at all, rather than the token of ":password".
    if (mCredential.mUser.empty())
        return;
    std::string pair = mCredential.mUser + ":" + mCredential.mPassword;
    HGLOBAL block = nullptr;
    int length = CBase64Helper::Base64Encoder(pair.data(), static_cast<int>(pair.size()), &block);
    if (!block)
        return;
    const char* text = static_cast<const char*>(GlobalLock(block));
    if (text && length > 0)
        CStrUtil::AppendANSIStr(mAuthorization, text, static_cast<size_t>(length));
    GlobalUnlock(block);
    GlobalFree(block);
}

std::string CHttpSocketClient::BuildRequest(const char* method, const std::string& path,
                                            const std::string* body) const {
    std::string request;
    request.reserve(256 + path.size() + (body ? body->size() : 0));
    request += method;
    request += ' ';
    request += path;
    request += " HTTP/1.1";
    if (!mAuthorization.empty()) {
        request += "\r\nAuthorization: Basic ";
        request += mAuthorization;
    }
    // The Host line carries no port, as the devices expect.
    request += "\r\nUser-Agent: Vantor Agent\r\nHost: ";
    request += mHost;
    request += "\r\nConnection: Keep-Alive\r\nCache-Control: no-cache\r\n";
    if (!body) {
        request += "\r\n";
        return request;
    }
    request += "Content-Length: ";
    request += CStrUtil::Num2TStr(static_cast<int>(body->size()));
    request += "\r\n\r\n";
    request += *body;
    return request;
}

bool CHttpSocketClient::Get(const std::string& path) {
    return Exchange("GET", path, nullptr);
}

bool CHttpSocketClient::Post(const std::string& path, const std::string& body) {
    return Exchange("POST", path, &body);
}

bool CHttpSocketClient::Exchange(const char* method, const std::string& path, const std::string* body) {
    mHeaders.Clear();
    std::string current = path;
    bool result = false;
    for (int redirects = 0;; ++redirects) {
        std::string request = BuildRequest(method, current, body);
        if (mpSocket->Send(request.data(), static_cast<int>(request.size())) == -1)
            return result;
        bool redirect = false;
        std::string next;
        result = ReadResponseHead(&redirect, &next);
        if (!redirect || redirects >= kMaxRedirects)
            return result;
        current = next;
    }
}

bool CHttpSocketClient::BeginPost(const std::string& path) {
    std::string request = BuildRequest("POST", path, nullptr);
    return mpSocket->Send(request.data(), static_cast<int>(request.size())) != -1;
}

bool CHttpSocketClient::Write(const void* data, DWORD length) {
    return mpSocket->Send(data, static_cast<int>(length)) != -1;
}

bool CHttpSocketClient::QueryStatusCode(int* status) {
    if (status)
        *status = mStatusCode;
    return true;
}

bool CHttpSocketClient::ReadResponseHead(bool* redirect, std::string* newPath) {
    *redirect = false;
    std::unique_ptr<char[]> buffer(new char[kHeadBufferSize]);
    mStatusCode = 0;
    size_t position = 0;
    size_t end = 0;

    // A closed connection (0) ends the head as an error does: waiting for
    // more would never end.
    int got = mpSocket->Recv(buffer.get(), kHeadBufferSize);
    if (got <= 0)
        return false;
    end = static_cast<size_t>(got);

    const char* line = nullptr;
    size_t lineLength = 0;
    if (CStrUtil::ReadLineNoCopy(buffer.get(), end, position, line, lineLength)) {
        std::vector<std::string> parts;
        if (CStrUtil::Split(std::string_view(line, lineLength), " ", parts, 3) >= 2)
            mStatusCode = CStrUtil::ParseInt(parts[1]);
    }

    for (;;) {
        if (CStrUtil::ReadLineNoCopy(buffer.get(), end, position, line, lineLength)) {
            if (lineLength > static_cast<size_t>(kMaxHeaderLine))
                return false;
            if (lineLength == 0)
                break;
            std::string name;
            std::string value;
            if (CStrUtil::SeparatePair(std::string_view(line, lineLength), ":", name, value))
                mHeaders.Add(name, value);
            continue;
        }
        // The partial line may end in the CR whose LF is still to come.
        size_t tail = end - position;
        if (tail > static_cast<size_t>(kMaxHeaderLine) + 1)
            return false;
        std::memmove(buffer.get(), buffer.get() + position, tail);
        position = 0;
        end = tail;
        got = mpSocket->Recv(buffer.get() + end, static_cast<int>(kHeadBufferSize - end));
        if (got <= 0)
            return false;
        end += static_cast<size_t>(got);
    }

    std::string encoding = mHeaders.Get("Transfer-Encoding");
    if (!encoding.empty())
        mChunked = encoding == "chunked";

    if (mStatusCode == 200) {
        DropLeftover();
        ResetChunking();
        const BYTE* body = reinterpret_cast<const BYTE*>(buffer.get() + position);
        DWORD bodyLength = static_cast<DWORD>(end - position);
        if (mChunked) {
            mLeftover.resize(bodyLength);
            bool last = false;
            mLeftover.resize(DeChunk(body, bodyLength, mLeftover.data(), &last));
        } else {
            mLeftover.assign(body, body + bodyLength);
        }
        int length = CStrUtil::ParseInt(mHeaders.Get("Content-Length"));
        mContentRemaining = length > 0 ? length : -1;
        return true;
    }
    if (mStatusCode == 302) {
        std::string location = mHeaders.Get("Location");
        if (!location.empty()) {
            *redirect = true;
            *newPath = location;
        }
    }
    return true;
}

void CHttpSocketClient::FinishChunkSize() {
    mChunkSizeText[mChunkSizeLength] = '\0';
    mChunkRemaining = static_cast<DWORD>(CStrUtil::ParseInt(mChunkSizeText, 16));
    mChunkSizeLength = 0;
    mChunkSizeText[0] = '\0';
    mChunkState = mChunkRemaining > 0 ? ChunkState::Data : ChunkState::Size;
}

DWORD CHttpSocketClient::DeChunk(const BYTE* raw, DWORD length, BYTE* out, bool* sawLastChunk) {
    DWORD written = 0;
    DWORD i = 0;
    while (i < length) {
        BYTE c = raw[i];
        switch (mChunkState) {
        case ChunkState::Size:
            ++i;
            if (c == '\r') {
                mChunkState = ChunkState::SizeLF;
            } else if (c == '\n') {
                FinishChunkSize();
                *sawLastChunk |= mChunkRemaining == 0;
            } else if (c == ';' || c == ' ' || c == '\t') {
                mChunkState = ChunkState::Extension;
            } else if (c == '0' && mChunkSizeLength == 0) {
                // Leading zeros take no room, so a zero-padded size still
                // fits the text.
            } else if (mChunkSizeLength < kChunkSizeTextMax) {
                mChunkSizeText[mChunkSizeLength++] = static_cast<char>(c);
            }
            break;
        case ChunkState::Extension:
            ++i;
            if (c == '\r') {
                mChunkState = ChunkState::SizeLF;
            } else if (c == '\n') {
                FinishChunkSize();
                *sawLastChunk |= mChunkRemaining == 0;
            }
            break;
        case ChunkState::SizeLF:
            if (c == '\n')
                ++i;
            FinishChunkSize();
            *sawLastChunk |= mChunkRemaining == 0;
            break;
        case ChunkState::Data: {
            DWORD n = std::min(mChunkRemaining, length - i);
            std::memcpy(out + written, raw + i, n);
            written += n;
            i += n;
            mChunkRemaining -= n;
            if (mChunkRemaining == 0)
                mChunkState = ChunkState::DataCR;
            break;
        }
        case ChunkState::DataCR:
            // A missing CR LF after the data is tolerated: the byte is taken
            // as the start of the next size line.
            if (c == '\r') {
                ++i;
                mChunkState = ChunkState::DataLF;
            } else {
                if (c == '\n')
                    ++i;
                mChunkState = ChunkState::Size;
            }
            break;
        case ChunkState::DataLF:
            if (c == '\n')
                ++i;
            mChunkState = ChunkState::Size;
            break;
        }
    }
    return written;
}

bool CHttpSocketClient::Read(void* buffer, DWORD* length, bool fill) {
    if (!buffer || !length)
        return false;
    if (mContentRemaining == 0) {
        *length = 0;
        return true;
    }
    BYTE* out = static_cast<BYTE*>(buffer);
    DWORD requested = *length;
    DWORD delivered = 0;
    bool mayRead = true;

    if (mLeftoverPos < mLeftover.size() && requested > 0) {
        size_t available = mLeftover.size() - mLeftoverPos;
        if (mContentRemaining > 0)
            available = std::min(available, static_cast<size_t>(mContentRemaining));
        DWORD n = static_cast<DWORD>(std::min<size_t>(available, requested));
        std::memcpy(out, mLeftover.data() + mLeftoverPos, n);
        mLeftoverPos += n;
        delivered = n;
        if (mLeftoverPos >= mLeftover.size() || mContentRemaining == static_cast<int>(n))
            DropLeftover();
        if (mContentRemaining > 0)
            mContentRemaining -= std::min(mContentRemaining, static_cast<int>(n));
        if (!fill)
            mayRead = false;
    }

    if (mContentRemaining > 0 && requested - delivered > static_cast<DWORD>(mContentRemaining))
        requested = delivered + static_cast<DWORD>(mContentRemaining);

    MarkThrottle();
    std::vector<BYTE> raw;
    DWORD framingOnly = 0;
    while (mayRead && mContentRemaining != 0 && delivered < requested) {
        DWORD want = requested - delivered;
        int got;
        if (!mChunked) {
            got = mpSocket->Recv(out + delivered, static_cast<int>(want));
        } else {
            raw.resize(want);
            int rawCount = mpSocket->Recv(raw.data(), static_cast<int>(want));
            got = rawCount;
            if (rawCount > 0) {
                bool sawLastChunk = false;
                got = static_cast<int>(
                    DeChunk(raw.data(), static_cast<DWORD>(rawCount), out + delivered, &sawLastChunk));
                // A read that carried only framing is no failure: read on,
                // unless it held the last chunk, after which a kept-alive
                // peer sends nothing more and the call ends here.
                framingOnly = got == 0 ? framingOnly + static_cast<DWORD>(rawCount) : 0;
                if (got == 0 && !sawLastChunk && framingOnly <= kMaxFramingOnlyBytes)
                    continue;
            }
        }
        if (got <= 0) {
            Sleep(1);
            if (delivered == 0) {
                *length = 0;
                return false;
            }
            break;
        }
        delivered += static_cast<DWORD>(got);
        if (mContentRemaining > 0)
            mContentRemaining -= std::min(mContentRemaining, got);
        Throttle(static_cast<DWORD>(got));
        if (!fill)
            break;
    }
    *length = delivered;
    return true;
}
