#include "net/CKVXWinINetAsync.h"

#include "platform/CBase64Helper.h"
#include "platform/CLockWrap.h"
#include "platform/CStrUtil.h"

#include <algorithm>
#include <vector>

using media_util::CBase64Helper;
using media_util::CLockWrap;
using media_util::CManualEvent;
using media_util::CStrUtil;

namespace {
constexpr DWORD kZeroTerminated = static_cast<DWORD>(-1);
}

CKVXWinINetAsync::CKVXWinINetAsync() {
    m_hRoot = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (m_hRoot == nullptr) {
        StoreError(GetLastError());
        return;
    }
    InternetSetStatusCallback(m_hRoot, &CKVXWinINetAsync::StatusCallback);
}

CKVXWinINetAsync::~CKVXWinINetAsync() {
    CloseRequestHandle();
    CloseConnectionHandle();
    if (m_hRoot != nullptr) {
        InternetSetStatusCallback(m_hRoot, nullptr);
        InternetCloseHandle(m_hRoot);
        m_hRoot = nullptr;
    }
    CLockWrap lock(mHeaderLock);
    mHeaders.Clear();
}

void CKVXWinINetAsync::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                      DWORD infoLength) {
    auto* self = reinterpret_cast<CKVXWinINetAsync*>(context);
    if (self != nullptr)
        self->OnStatus(status, info, infoLength);
}

void CKVXWinINetAsync::OnStatus(DWORD status, LPVOID info, DWORD infoLength) {
    if (m_hRoot == nullptr || status < INTERNET_STATUS_CONNECTED_TO_SERVER ||
        status > INTERNET_STATUS_INTERMEDIATE_RESPONSE)
        return;
    switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        mConnected = true;
        return;
    case INTERNET_STATUS_HANDLE_CLOSING:
        mHandleClosing.Set();
        return;
    case INTERNET_STATUS_REQUEST_COMPLETE:
    // Judged like a completion. Devices send no 1xx heads to these requests
    // (the layer never asks for "100-continue"), so this does not end a wait
    // before the real answer in practice.
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
        break;
    default:
        return;
    }
    DWORD error = 0;
    if (info != nullptr && infoLength >= sizeof(INTERNET_ASYNC_RESULT))
        error = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError;
    int code = 0;
    bool known = QueryStatusCode(&code);
    if (error != 0)
        StoreError(error);
    if (!known && error != 0) {
        // Failed before any answer (the connection was refused or broke):
        // nothing of this exchange can succeed any more.
        mExchangeFailed.Set();
        mRequestFinished.Set();
        return;
    }
    // No head yet (a send that completed): nothing to judge by its status.
    if (!known)
        code = 0;
    bool authentication = false;
    if (code == 407) {
        mAuthState = kAuthProxy;
        authentication = true;
    } else if (code == 401) {
        mAuthState = kAuthServer;
        authentication = true;
    } else if (error == 0) {
        if (mHeadersPending)
            ParseHeaders();
        mCompletionOk.Set();
    } else if (code != 200) {
        // An error answer that broke off: this exchange is over. The owner's
        // cancel event is not ours to set; the next request starts clean.
        mExchangeFailed.Set();
    } else {
        // The 200's body ended with an error: the read sees the end, and
        // IsBodyCut tells it was not the real one.
        mBodyBroken = true;
        mCompletionOk.Set();
    }
    if (authentication)
        mAuthRequired.Set();
    mRequestFinished.Set();
}

void CKVXWinINetAsync::ParseHeaders() {
    HINTERNET request = m_hRequest.load();
    if (request == nullptr)
        return;
    std::vector<char> buffer(kRawHeadBufferSize, '\0');
    DWORD length = kRawHeadBufferSize;
    // Not there yet (or too long for the buffer): stays pending for the next notice.
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr))
        return;
    CLockWrap lock(mHeaderLock);
    mHeadersPending = false;
    if (!mHeaders.IsEmpty())
        return;
    std::vector<std::string> lines;
    CStrUtil::Split(std::string_view(buffer.data(), std::min<DWORD>(length, kRawHeadBufferSize)), "\r\n",
                    lines);
    for (const std::string& line : lines) {
        std::string name, value;
        // The status line has no colon and is skipped.
        if (CStrUtil::SeparatePair(line, ":", name, value))
            mHeaders.Add(name, value);
    }
}

std::string CKVXWinINetAsync::GetResponseHeader(const std::string& name) {
    CLockWrap lock(mHeaderLock);
    return mHeaders.Get(name);
}

void CKVXWinINetAsync::CloseRequestHandle() {
    CLockWrap lock(mHandleLock);
    mConnected = false;
    HINTERNET request = m_hRequest.load();
    if (request == nullptr)
        return;
    // Let a notice that is on its way arrive first, unless the owner gave up,
    // the exchange failed or its deadline passed. (The layer's close waits
    // for any callback still running, so this is no matter of safety.)
    CManualEvent::WaitThreeEvents(&mRequestFinished, &mExchangeFailed, mpCancelEvent,
                                  WithinDeadline(kRequestFinishWaitMs));
    InternetCloseHandle(request);
    mHandleClosing.Wait(kHandleClosingWaitMs);
    mHandleClosing.Reset();
    m_hRequest = nullptr;
}

void CKVXWinINetAsync::CloseConnectionHandle() {
    CLockWrap lock(mHandleLock);
    if (m_hConnect == nullptr)
        return;
    InternetCloseHandle(m_hConnect);
    mHandleClosing.Wait(kHandleClosingWaitMs);
    mHandleClosing.Reset();
    m_hConnect = nullptr;
}

bool CKVXWinINetAsync::Connect(const std::string& host, uint16_t port, bool) {
    if (CStrUtil::IsStrNull(host) || m_hRoot == nullptr)
        return false;
    CloseRequestHandle();
    CloseConnectionHandle();
    CLockWrap lock(mHandleLock);
    m_hConnect = InternetConnectA(m_hRoot, host.c_str(), port, mServerCredential.mUser.c_str(),
                                  mServerCredential.mPassword.c_str(), INTERNET_SERVICE_HTTP, kConnectFlags,
                                  Context());
    if (m_hConnect == nullptr) {
        StoreError(GetLastError());
        return false;
    }
    return true;
}

void CKVXWinINetAsync::BeginExchange() {
    mExchangeFailed.Reset();
    mBodyBroken = false;
    mBodyCut = false;
}

bool CKVXWinINetAsync::OpenRequest(const char* verb, const std::string& path, DWORD flags) {
    CloseRequestHandle();
    // After the close no notice of the previous request can arrive, so its
    // failure cannot leak into this one.
    BeginExchange();
    if (path.empty() || m_hConnect == nullptr)
        return false;
    HINTERNET request =
        HttpOpenRequestA(m_hConnect, verb, path.c_str(), nullptr, nullptr, nullptr, flags, Context());
    if (request == nullptr) {
        StoreError(GetLastError());
        return false;
    }
    m_hRequest = request;
    return true;
}

bool CKVXWinINetAsync::ApplyServerCredentials() {
    const std::string& user = mServerCredential.mUser;
    const std::string& password = mServerCredential.mPassword;
    if (user.empty())
        return false;
    HINTERNET request = m_hRequest.load();
    InternetSetOptionA(request, INTERNET_OPTION_USERNAME, const_cast<char*>(user.c_str()),
                       static_cast<DWORD>(user.size()));
    InternetSetOptionA(request, INTERNET_OPTION_PASSWORD, const_cast<char*>(password.c_str()),
                       static_cast<DWORD>(password.size()));
    std::string pair = user + ":" + password;
    HGLOBAL block = nullptr;
    int encoded = CBase64Helper::Base64Encoder(pair.data(), static_cast<int>(pair.size()), &block);
    CStrUtil::StringClear(mAuthToken);
    if (block != nullptr) {
        const char* text = static_cast<const char*>(GlobalLock(block));
        if (text != nullptr)
            CStrUtil::AppendANSIStr(mAuthToken, text, static_cast<size_t>(encoded));
        GlobalUnlock(block);
        GlobalFree(block);
    }
    return true;
}

void CKVXWinINetAsync::AddAuthorizationHeader() {
    std::string line = "Authorization: Basic " + mAuthToken;
    HttpAddRequestHeadersA(m_hRequest.load(), line.c_str(), kZeroTerminated, HTTP_ADDREQ_FLAG_ADD);
}

bool CKVXWinINetAsync::WaitCompletion(DWORD milliseconds) {
    return CManualEvent::WaitThreeEvents(&mCompletionOk, &mExchangeFailed, mpCancelEvent,
                                         WithinDeadline(milliseconds)) == 0;
}

bool CKVXWinINetAsync::Finished(bool returned, DWORD milliseconds) {
    if (returned)
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING)
        return WaitCompletion(milliseconds);
    StoreError(error);
    return false;
}

bool CKVXWinINetAsync::SendStep() {
    mCompletionOk.Reset();
    if (Finished(HttpSendRequestExA(m_hRequest.load(), nullptr, nullptr, HSR_ASYNC | HSR_INITIATE, Context()),
                 mTimeout))
        return true;
    CloseRequestHandle();
    return false;
}

bool CKVXWinINetAsync::EndStep() {
    mCompletionOk.Reset();
    mAuthRequired.Reset();
    mRequestFinished.Reset();
    if (HttpEndRequestA(m_hRequest.load(), nullptr, HSR_ASYNC, Context()))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        // The callback signals request-finished last, after completion-OK,
        // authentication-required or the exchange's failure: waking on it and
        // then looking at the others ends the wait on a failure too. The send
        // step's notice may still be finishing when this wait starts, so a
        // request-finished with none of the others is that notice's, and the
        // wait goes on.
        const DWORD start = timeGetTime();
        for (;;) {
            const DWORD elapsed = timeGetTime() - start;
            const DWORD left = elapsed < mTimeout ? WithinDeadline(mTimeout - elapsed) : 0;
            const int which =
                CManualEvent::WaitThreeEvents(&mCompletionOk, &mRequestFinished, mpCancelEvent, left);
            if (which == 0)
                return true;
            if (which != 1)
                break; // cancelled, or the time ran out
            mRequestFinished.Reset();
            const bool ok = mCompletionOk.IsSignalled() != 0;
            const bool authentication = mAuthRequired.IsSignalled() != 0;
            const bool failed = mExchangeFailed.IsSignalled() != 0;
            if (!ok && !authentication && !failed)
                continue;
            // This notice has finished: closing the request need not wait for it.
            mRequestFinished.Set();
            if (ok)
                return true;
            if (authentication)
                return false; // the device wants credentials: the caller's loop retries
            break;
        }
    } else {
        StoreError(error);
    }
    CloseRequestHandle();
    return false;
}

bool CKVXWinINetAsync::Get(const std::string& path) {
    mAuthState = kAuthNone;
    {
        CLockWrap lock(mHeaderLock);
        mHeaders.Clear();
    }
    ApplyServerCredentials();
    mHeadersPending = true;
    int attempts = 0;
    // What the refused request carried. The layer sends the credentials with
    // the first request already, so a 401 means they were refused: the same
    // again cannot succeed, and every refusal counts against a device's
    // failed-login limit. A refusal is retried only with credentials it did
    // not carry.
    bool sentServerCredentials = false;
    bool sentProxyCredentials = false;
    while (IsUsable()) {
        if (mAuthState == kAuthServer) {
            if (sentServerCredentials || !ApplyServerCredentials())
                return false;
        } else if (mAuthState == kAuthProxy) {
            if (sentProxyCredentials || mProxyCredential.mUser.empty())
                return false;
            InternetSetOptionA(m_hRequest.load(), INTERNET_OPTION_PROXY_USERNAME,
                               const_cast<char*>(mProxyCredential.mUser.c_str()),
                               static_cast<DWORD>(mProxyCredential.mUser.size()));
            InternetSetOptionA(m_hRequest.load(), INTERNET_OPTION_PROXY_PASSWORD,
                               const_cast<char*>(mProxyCredential.mPassword.c_str()),
                               static_cast<DWORD>(mProxyCredential.mPassword.size()));
            sentProxyCredentials = true;
        } else if (!OpenRequest("GET", path, kGetFlags)) {
            return false;
        }
        if (!mServerCredential.mUser.empty()) {
            AddAuthorizationHeader();
            sentServerCredentials = true;
        }
        bool result = SendStep() && EndStep();
        ++attempts;
        if (result || m_hRequest.load() == nullptr || attempts >= kMaxAttempts)
            return result;
    }
    return false;
}

bool CKVXWinINetAsync::Post(const std::string& path, const std::string& body) {
    if (!OpenRequest("POST", path, kPostFlags))
        return false;
    if (!IsUsable())
        return false;
    for (int attempt = 0; attempt < kMaxAttempts && m_hRequest.load() != nullptr; ++attempt) {
        mCompletionOk.Reset();
        bool sent =
            Finished(HttpSendRequestA(m_hRequest.load(), kFormContentType, kZeroTerminated,
                                      const_cast<char*>(body.data()), static_cast<DWORD>(body.size())),
                     mTimeout);
        if (!sent)
            CloseRequestHandle();
        if (sent && EndStep())
            return true;
    }
    return false;
}

bool CKVXWinINetAsync::BeginPost(const std::string& path) {
    if (!OpenRequest("POST", path, kPostFlags))
        return false;
    if (!mServerCredential.mUser.empty()) {
        ApplyServerCredentials();
        AddAuthorizationHeader();
    }
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = 0; // length not known: the body is streamed
    mCompletionOk.Reset();
    if (Finished(HttpSendRequestExA(m_hRequest.load(), &buffers, nullptr, HSR_INITIATE, Context()), mTimeout))
        return true;
    CloseRequestHandle();
    return false;
}

bool CKVXWinINetAsync::Write(const void* data, DWORD length) {
    DWORD written = 0;
    if (InternetWriteFile(m_hRequest.load(), data, length, &written))
        return true;
    StoreError(GetLastError());
    return false;
}

bool CKVXWinINetAsync::EndPost() {
    return true;
}

bool CKVXWinINetAsync::Disconnect() {
    if ((m_hRequest.load() == nullptr && m_hConnect == nullptr) || m_hRoot == nullptr)
        return true;
    CloseRequestHandle();
    CloseConnectionHandle();
    return true;
}

bool CKVXWinINetAsync::Read(void* buffer, DWORD* length, bool fill) {
    HINTERNET request = m_hRequest.load();
    if (request == nullptr || buffer == nullptr || length == nullptr || !IsUsable())
        return false;
    DWORD wanted = *length;
    if (wanted == 0)
        return true;
    if (mExchangeFailed.IsSignalled() || IsPastDeadline()) {
        if (IsPastDeadline())
            StoreError(ERROR_INTERNET_TIMEOUT);
        mBodyCut = true;
        CloseRequestHandle();
        return false;
    }
    MarkThrottle();
    DWORD delivered = 0;
    bool ok = true;
    // The outputs of the pending call live as long as the call: an abandoned
    // call is only ended by the close below, and until then the layer may
    // still complete it into them.
    DWORD available = 0;
    INTERNET_BUFFERSA piece{};
    for (;;) {
        mCompletionOk.Reset();
        available = 0;
        if (!Finished(InternetQueryDataAvailable(request, &available, 0, Context()), mTimeout)) {
            ok = false;
            break;
        }
        if (available == 0)
            break; // end of the body
        piece = INTERNET_BUFFERSA{};
        piece.dwStructSize = sizeof(piece);
        piece.lpvBuffer = static_cast<char*>(buffer) + delivered;
        piece.dwBufferLength = std::min(available, wanted - delivered);
        mCompletionOk.Reset();
        if (!Finished(InternetReadFileExA(request, &piece, IRF_ASYNC, Context()), mTimeout)) {
            ok = false;
            break;
        }
        delivered += piece.dwBufferLength;
        Throttle(piece.dwBufferLength);
        // A peer that trickles keeps every single wait short: the deadline
        // ends the call all the same.
        if (!fill || delivered >= wanted || IsPastDeadline())
            break;
    }
    if (!ok) {
        // The abandoned call may still be pending with `available` or
        // `piece` as its outputs: closing the request ends it before they go.
        mBodyCut = true;
        CloseRequestHandle();
        if (delivered == 0)
            return false;
    }
    *length = delivered;
    return true;
}

bool CKVXWinINetAsync::QueryStatusCode(int* status) {
    HINTERNET request = m_hRequest.load();
    if (request == nullptr)
        return false;
    DWORD code = 0;
    DWORD length = sizeof(code);
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, nullptr)) {
        StoreError(GetLastError());
        return false;
    }
    mStatusCode = static_cast<int>(code);
    if (status != nullptr)
        *status = static_cast<int>(code);
    return true;
}

void CKVXWinINetAsync::SetCredentials(const CHttpCredential& credential) {
    credential.CopyTo(mServerCredential);
}
