#include "net/CHttpSocketClient.h"

#include "net/CSocketAddress.h"
#include "os/inet/WinInetUrl.h"
#include "platform/CBase64Helper.h"
#include "platform/CStrUtil.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

using media_util::CBase64Helper;
using media_util::CStrUtil;

namespace {

// The value of a Content-Length header; -1 when it is absent or does not
// start with a digit (a length we cannot trust is no length).
int ParseContentLength(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
        return -1;
    return CStrUtil::ParseInt(text); // saturates at INT_MAX
}

// Answers that never carry a body, whatever their headers say.
bool HasNoBody(int status) {
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

} // namespace

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
    mPort = port;
    mBounded = bounded;
    return OpenConnection();
}

bool CHttpSocketClient::OpenConnection() {
    if (IsPastDeadline()) {
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    CSocketAddress address;
    address.SetHost(mHost);
    address.SetPort(mPort);
    // Under a deadline even an unbounded connect gets a watchdog: a device
    // that drops SYN packets would otherwise hold the exchange for minutes.
    const bool bounded = mBounded || HasDeadline();
    if (bounded && HasDeadline())
        mpSocket->LimitNextConnect(RemainingMs());
    mpSocket->SetAbortEvent(mpCancelEvent);
    const bool connected = mpSocket->Connect(address, bounded);
    mConnection = connected ? Connection::Idle : Connection::Closed;
    return connected;
}

bool CHttpSocketClient::Disconnect() {
    if (mConnection == Connection::Closed)
        return true;
    mConnection = Connection::Closed;
    mpSocket->Close();
    DropLeftover();
    mChunked = false;
    mChunks.Reset();
    return true;
}

void CHttpSocketClient::DropLeftover() {
    mLeftover.clear();
    mLeftover.shrink_to_fit();
    mLeftoverPos = 0;
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

std::string CHttpSocketClient::BuildRequest(const char* method, const std::string& target,
                                            const std::string* body) const {
    std::string request;
    request.reserve(256 + target.size() + (body ? body->size() : 0));
    request += method;
    request += ' ';
    request += target;
    request += " HTTP/1.1";
    if (!mAuthorization.empty()) {
        request += "\r\nAuthorization: Basic ";
        request += mAuthorization;
    }
    // The Host line carries no port, as the devices expect. An IPv6 literal
    // stands in brackets ("Host: [::1]"), however Connect was given it.
    request += "\r\nUser-Agent: Vantor Agent\r\nHost: ";
    request += os::BracketHostLiteral(mHost);
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

bool CHttpSocketClient::PrepareForRequest() {
    switch (mConnection) {
    case Connection::Closed: // the send fails, as it always has without a connection
    case Connection::Idle:
        return true;
    case Connection::InBody:
        if (DrainAnswer())
            return true;
        break;
    case Connection::Spent:
        break;
    }
    Disconnect();
    return OpenConnection();
}

bool CHttpSocketClient::DrainAnswer() {
    if (!mChunked && (mContentRemaining < 0 || mContentRemaining > static_cast<int>(kMaxDrainBytes)))
        return false;
    BYTE scratch[4096];
    DWORD drained = 0;
    while (mConnection == Connection::InBody && drained <= kMaxDrainBytes) {
        DWORD length = sizeof(scratch);
        if (!Read(scratch, &length, false) || length == 0)
            break;
        drained += length;
    }
    return mConnection == Connection::Idle;
}

bool CHttpSocketClient::Exchange(const char* method, const std::string& path, const std::string* body) {
    std::string target = os::EscapeRequestTarget(path);
    bool result = false;
    for (int redirects = 0;; ++redirects) {
        if (!PrepareForRequest())
            return result;
        const std::string request = BuildRequest(method, target, body);
        if (mpSocket->Send(request.data(), static_cast<int>(request.size())) == -1) {
            if (mConnection != Connection::Closed)
                mConnection = Connection::Spent;
            return result;
        }
        bool redirect = false;
        std::string location;
        result = ReadResponseHead(&redirect, &location);
        if (!redirect || redirects >= kMaxRedirects)
            return result;
        // A Location is wire form already: its escapes stay as the device
        // wrote them.
        target = os::EscapeRequestTarget(location, os::TargetText::WireForm);
    }
}

bool CHttpSocketClient::BeginPost(const std::string& path) {
    if (!PrepareForRequest())
        return false;
    const std::string request = BuildRequest("POST", os::EscapeRequestTarget(path), nullptr);
    const bool sent = mpSocket->Send(request.data(), static_cast<int>(request.size())) != -1;
    // Its answer is never read, so nothing else can follow on this connection.
    if (mConnection != Connection::Closed)
        mConnection = Connection::Spent;
    return sent;
}

bool CHttpSocketClient::Write(const void* data, DWORD length) {
    return mpSocket->Send(data, static_cast<int>(length)) != -1;
}

bool CHttpSocketClient::QueryStatusCode(int* status) {
    if (status)
        *status = mStatusCode;
    return true;
}

int CHttpSocketClient::Receive(void* buffer, int length) {
    // A time-out of 0 means none, as for the socket option it stands for.
    // Bytes that have arrived are taken without waiting for readability
    // first: a stream's receiver nearly always finds some.
    if (!IsCancelled() && !IsPastDeadline()) {
        const int got = mpSocket->RecvWaiting(buffer, length);
        if (got >= 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            return got;
    }
    const DWORD timeout = mpSocket->GetHandleTimeout() != 0 ? mpSocket->GetHandleTimeout() : INFINITE;
    const DWORD start = timeGetTime();
    for (;;) {
        if (IsCancelled())
            break;
        const DWORD elapsed = timeGetTime() - start;
        if (elapsed >= timeout)
            break;
        const DWORD slice = WithinDeadline(std::min(kWaitSliceMs, timeout - elapsed));
        if (slice == 0)
            break; // the deadline has passed
        const int ready = mpSocket->WaitReadable(slice);
        if (ready < 0)
            return -1;
        if (ready > 0)
            return mpSocket->Recv(buffer, length);
    }
    WSASetLastError(WSAETIMEDOUT);
    return -1;
}

void CHttpSocketClient::BeginAnswer() {
    mHeaders.Clear();
    mStatusCode = 0;
    DropLeftover();
    mContentRemaining = -1;
    mChunked = false;
    mChunks.Reset();
    mBodyCut = false;
    mBeyondEnd = false;
}

bool CHttpSocketClient::ReadResponseHead(bool* redirect, std::string* location) {
    *redirect = false;
    BeginAnswer();
    // Until the head says where the body ends, nothing can follow it.
    mConnection = Connection::Spent;
    std::unique_ptr<char[]> buffer(new char[kHeadBufferSize]);
    size_t position = 0;
    size_t end = 0;

    // A closed connection (0) ends the head as an error does: waiting for
    // more would never end.
    int got = Receive(buffer.get(), kHeadBufferSize);
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
        got = Receive(buffer.get() + end, static_cast<int>(kHeadBufferSize - end));
        if (got <= 0)
            return false;
        end += static_cast<size_t>(got);
    }

    // Only the exact value switches chunking on, and an answer without the
    // header is not chunked: each answer says it for itself.
    mChunked = mHeaders.Get("Transfer-Encoding") == "chunked";
    if (HasNoBody(mStatusCode)) {
        mContentRemaining = 0;
    } else if (!mChunked) {
        const int length = ParseContentLength(mHeaders.Get("Content-Length"));
        if (length > 0)
            mContentRemaining = length;
        else if (length == 0 && mStatusCode != 200)
            mContentRemaining = 0;
        // else: no length, or a 200 with length 0 (devices' endless
        // streams): read until the peer stops.
    }
    TakeBodyBytes(reinterpret_cast<const BYTE*>(buffer.get() + position), static_cast<DWORD>(end - position));
    if (mChunked || mContentRemaining >= 0)
        mConnection = Connection::InBody;
    NoteBodyProgress();

    if (mStatusCode == 302) {
        std::string target = mHeaders.Get("Location");
        if (!target.empty()) {
            *redirect = true;
            *location = target;
        }
    }
    return true;
}

void CHttpSocketClient::TakeBodyBytes(const BYTE* bytes, DWORD length) {
    if (length == 0)
        return;
    if (mContentRemaining == 0) {
        mBeyondEnd = true;
        return;
    }
    if (mChunked) {
        mLeftover.resize(length);
        DWORD consumed = 0;
        mLeftover.resize(mChunks.Decode(bytes, length, mLeftover.data(), &consumed));
        mBeyondEnd = consumed < length;
        return;
    }
    DWORD take = length;
    if (mContentRemaining > 0 && take > static_cast<DWORD>(mContentRemaining)) {
        take = static_cast<DWORD>(mContentRemaining);
        mBeyondEnd = true;
    }
    mLeftover.assign(bytes, bytes + take);
}

void CHttpSocketClient::NoteBodyProgress() {
    if (mChunked && mChunks.IsDone() && mLeftoverPos >= mLeftover.size())
        mContentRemaining = 0;
    if (mContentRemaining != 0)
        return;
    // Reached where the framing said, whatever failed on the way.
    mBodyCut = false;
    if (mConnection == Connection::InBody)
        mConnection = mBeyondEnd ? Connection::Spent : Connection::Idle;
}

void CHttpSocketClient::FailBody(bool connectionLost) {
    mBodyCut = true;
    if (connectionLost && mConnection != Connection::Closed)
        mConnection = Connection::Spent;
}

bool CHttpSocketClient::Read(void* buffer, DWORD* length, bool fill) {
    if (!buffer || !length)
        return false;
    if (mContentRemaining == 0) {
        *length = 0;
        return true;
    }
    if (IsCancelled() || IsPastDeadline()) {
        WSASetLastError(WSAETIMEDOUT);
        FailBody(false);
        *length = 0;
        return false;
    }
    BYTE* out = static_cast<BYTE*>(buffer);
    DWORD requested = *length;
    DWORD delivered = 0;
    bool mayRead = true;

    if (mLeftoverPos < mLeftover.size() && requested > 0) {
        const size_t available = mLeftover.size() - mLeftoverPos;
        const DWORD n = static_cast<DWORD>(std::min<size_t>(available, requested));
        std::memcpy(out, mLeftover.data() + mLeftoverPos, n);
        mLeftoverPos += n;
        delivered = n;
        if (mLeftoverPos >= mLeftover.size())
            DropLeftover();
        if (mContentRemaining > 0)
            mContentRemaining -= std::min(mContentRemaining, static_cast<int>(n));
        NoteBodyProgress();
        if (!fill)
            mayRead = false;
    }

    if (mContentRemaining > 0 && requested - delivered > static_cast<DWORD>(mContentRemaining))
        requested = delivered + static_cast<DWORD>(mContentRemaining);

    MarkThrottle();
    std::vector<BYTE> raw;
    DWORD framingOnly = 0;
    while (mayRead && mContentRemaining != 0 && delivered < requested) {
        const DWORD want = requested - delivered;
        int got;
        bool lost = false; // the connection cannot go on (closed, broken, garbage)
        if (!mChunked) {
            got = Receive(out + delivered, static_cast<int>(want));
        } else {
            raw.resize(want);
            const int rawCount = Receive(raw.data(), static_cast<int>(want));
            got = rawCount;
            if (rawCount > 0) {
                DWORD consumed = 0;
                got = static_cast<int>(
                    mChunks.Decode(raw.data(), static_cast<DWORD>(rawCount), out + delivered, &consumed));
                mBeyondEnd |= consumed < static_cast<DWORD>(rawCount);
                NoteBodyProgress();
                if (got == 0 && mContentRemaining == 0)
                    break; // only the last chunk and its trailer: the body ended
                // A read that carried only framing is no failure: read on,
                // within a limit.
                framingOnly = got == 0 ? framingOnly + static_cast<DWORD>(rawCount) : 0;
                if (got == 0 && framingOnly <= kMaxFramingOnlyBytes)
                    continue;
                lost = got == 0;
            }
        }
        if (got <= 0) {
            const bool timedOut = got < 0 && WSAGetLastError() == WSAETIMEDOUT;
            const bool stopped = IsCancelled() || IsPastDeadline();
            if (!lost && !mChunked && mContentRemaining < 0 && (got == 0 || (timedOut && !stopped))) {
                // A body without length ends with the peer's close, or with
                // its silence for a whole receive time-out: there is no other
                // end to wait for. (The deadline or a cancel does cut it.)
                mContentRemaining = 0;
                mConnection = Connection::Spent;
            } else {
                // A time-out (the deadline and a cancel included) loses no
                // byte; the peer's close inside a framed body, an error or
                // endless framing leave the connection unusable.
                FailBody(lost || got == 0 || WSAGetLastError() != WSAETIMEDOUT);
            }
            if (delivered == 0) {
                *length = 0;
                return false;
            }
            break;
        }
        delivered += static_cast<DWORD>(got);
        if (!mChunked && mContentRemaining > 0) {
            mContentRemaining -= std::min(mContentRemaining, got);
            NoteBodyProgress();
        }
        Throttle(static_cast<DWORD>(got));
        if (!fill)
            break;
    }
    *length = delivered;
    return true;
}
