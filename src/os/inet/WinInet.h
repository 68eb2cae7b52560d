// The WinINet calls of the asynchronous HTTP client, stood in for on Linux.
//
// The work is done by libcurl's multi interface on one worker thread per root
// handle (InternetOpenA). The calls keep WinINet's shape and results:
//
// - A handle (HINTERNET) is an opaque number looked up in a table, never a
//   pointer, so a closed or made-up handle fails with ERROR_INVALID_HANDLE
//   instead of touching freed memory.
// - Handles form a tree: root (InternetOpenA) -> connection (InternetConnectA)
//   -> request (HttpOpenRequestA). A child takes its parent's status callback
//   when it is created. Closing a handle closes its children first.
// - In asynchronous mode (INTERNET_FLAG_ASYNC) HttpSendRequestA,
//   HttpSendRequestExA and HttpEndRequestA always return FALSE with
//   ERROR_IO_PENDING; InternetQueryDataAvailable and InternetReadFileExA
//   return at once when body bytes are buffered or the body has ended, and
//   are pending otherwise. A pending call completes on the worker thread with
//   INTERNET_STATUS_REQUEST_COMPLETE (100); its INTERNET_ASYNC_RESULT carries
//   the call's result and error. Output arguments of a pending call (bytes
//   available, read buffer and count) are written before that callback; the
//   caller keeps them valid until it, or until it closes the request handle.
// - Other notices: INTERNET_STATUS_CONNECTED_TO_SERVER (21) once a request
//   has a connection (new or kept alive), INTERNET_STATUS_INTERMEDIATE_RESPONSE
//   (120) for each 1xx head, INTERNET_STATUS_HANDLE_CLOSING (70) when a
//   connection or request handle is closed.
// - All callbacks run on the root's worker thread, one at a time, with no lock
//   of this layer held, so a callback may call HttpQueryInfoA. InternetCloseHandle
//   returns only after every callback for the handle, its closing notice
//   included, has returned; none follows. It may be called from any thread.
// - Body bytes are buffered up to kMaxBufferedBodyBytes per request; beyond
//   that the transfer is paused until the reader makes room, so a slow reader
//   never makes memory grow with the body.
// - A user name (InternetConnectA, or INTERNET_OPTION_USERNAME/PASSWORD on the
//   request) goes out with every request as Basic credentials, without
//   waiting for a challenge: devices answer 401 otherwise and the retry costs
//   a round trip. An Authorization header the caller added wins.
// - Redirects (301, 302, 303, 307, 308) are followed, at most kMaxRedirects in
//   a row; header queries report the last response.
// - Error codes are per thread (GetLastError) and use WinINet's numbers.
#pragma once

#include "os/inet/WinInetUrl.h"
#include "os/kernel/Kernel.h"

#include <cstdint>

using HINTERNET = void*;
using DWORD_PTR = uintptr_t;

using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                          DWORD infoLength);
// Returned by InternetSetStatusCallback for a bad handle.
#define INTERNET_INVALID_STATUS_CALLBACK (reinterpret_cast<INTERNET_STATUS_CALLBACK>(-1))

// The information of INTERNET_STATUS_REQUEST_COMPLETE and
// INTERNET_STATUS_INTERMEDIATE_RESPONSE: the call's result (TRUE/FALSE) and,
// when it failed, its error code.
struct INTERNET_ASYNC_RESULT {
    DWORD_PTR dwResult;
    DWORD dwError;
};

struct INTERNET_BUFFERSA {
    DWORD dwStructSize; // sizeof(INTERNET_BUFFERSA)
    INTERNET_BUFFERSA* Next;
    const char* lpcszHeader;
    DWORD dwHeadersLength;
    DWORD dwHeadersTotal;
    LPVOID lpvBuffer;
    DWORD dwBufferLength; // in: room at lpvBuffer; out (reads): bytes stored
    DWORD dwBufferTotal;  // HttpSendRequestExA: body length, 0 = not known (streamed)
    DWORD dwOffsetLow;
    DWORD dwOffsetHigh;
};

// Error codes (ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER and
// ERROR_INTERNET_INVALID_URL come with the URL cracker).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;

// InternetOpenA access types and flags.
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG =
    0; // proxy from the environment (http_proxy), never for loopback
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;

constexpr DWORD INTERNET_SERVICE_HTTP = 3;

// Request flags. Caching does not exist here, so RELOAD and NO_CACHE_WRITE
// are accepted and change nothing; connections are always kept alive.
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr DWORD INTERNET_FLAG_FORMS_SUBMIT = 0x00000040;

// Status notices.
constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
constexpr DWORD INTERNET_STATUS_REQUEST_COMPLETE = 100;
constexpr DWORD INTERNET_STATUS_INTERMEDIATE_RESPONSE = 120;

// Options (InternetSetOptionA; the buffer is the text, the length its size).
constexpr DWORD INTERNET_OPTION_USERNAME = 28;
constexpr DWORD INTERNET_OPTION_PASSWORD = 29;
constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;

// HttpQueryInfoA levels and modifiers.
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;
constexpr DWORD HTTP_QUERY_MODIFIER_FLAGS_MASK = 0xF0000000;

// HttpAddRequestHeadersA modifiers. A header already on the request is
// replaced, so a request sent again after a 401 carries one line per name.
constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000;
constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

// HttpSendRequestExA / HttpEndRequestA / InternetReadFileExA flags.
constexpr DWORD HSR_ASYNC = 0x00000001;
constexpr DWORD HSR_INITIATE = 0x00000008;
constexpr DWORD IRF_ASYNC = 0x00000001;

namespace os::inet {
// Body bytes a request holds for its reader before the transfer is paused.
constexpr DWORD kMaxBufferedBodyBytes = 256 * 1024;
// Largest piece libcurl hands over at once; the transfer resumes once this
// much room is free again.
constexpr DWORD kReceiveChunkBytes = 64 * 1024;
// Redirects followed in a row before the request fails with
// ERROR_HTTP_REDIRECT_FAILED (a device that redirects to itself forever).
constexpr long kMaxRedirects = 10;
// A response head (all its lines) longer than this fails the request with
// ERROR_HTTP_INVALID_SERVER_RESPONSE instead of growing without bound.
constexpr DWORD kMaxResponseHeadBytes = 64 * 1024;
// Without an answer from the peer a connection attempt gives up after this.
constexpr long kConnectTimeoutMs = 30000;
// InternetWriteFile waits at most this long for the peer to take the bytes.
constexpr DWORD kWriteTimeoutMs = 5000;

// Test hooks: what a request's body buffer held at most, and how often the
// transfer was paused for a slow reader. False for a handle that is not an
// open request.
bool GetBodyBufferStatsForTest(HINTERNET request, DWORD* peakBufferedBytes, DWORD* pauseCount);
// Number of root handles whose worker thread is still running.
int GetLiveSessionCountForTest();
// Waits until a call on some request of this process has been left pending
// since the last time this returned true (so a test can act while a client
// waits inside the layer). False when the time passed first.
bool WaitForPendingCallForTest(DWORD timeoutMs);
} // namespace os::inet

// Per-thread last error, as on Windows.
DWORD GetLastError();
void SetLastError(DWORD error);

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                        DWORD flags);
// Installs the callback on the handle (children created later take it);
// returns the previous one, or INTERNET_INVALID_STATUS_CALLBACK for a bad
// handle. A null callback removes it.
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback);
// No network traffic: the connection is made by the first request.
HINTERNET InternetConnectA(HINTERNET root, const char* serverName, INTERNET_PORT port, const char* userName,
                           const char* password, DWORD service, DWORD flags, DWORD_PTR context);
HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* objectName,
                           const char* version, const char* referrer, const char** acceptTypes, DWORD flags,
                           DWORD_PTR context);
// headersLength -1 (as DWORD) means zero-terminated. Lines are separated by CR LF.
BOOL HttpAddRequestHeadersA(HINTERNET request, const char* headers, DWORD headersLength, DWORD modifiers);
// Sends the request with extra header lines and an optional body; completes
// once the request has a connection. Sending a request handle again starts a
// new exchange on it (the previous response is dropped).
BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength);
// Starts the request; a body, if any, follows with InternetWriteFile. With
// buffersIn->dwBufferTotal 0 the body length is not known and the body goes
// out chunked. Completes once the request has a connection.
BOOL HttpSendRequestExA(HINTERNET request, INTERNET_BUFFERSA* buffersIn, INTERNET_BUFFERSA* buffersOut,
                        DWORD flags, DWORD_PTR context);
// Completes once the final response head has arrived. From then on (or from
// the first completed body read) HttpQueryInfoA reports that head; before, it
// fails with ERROR_HTTP_HEADER_NOT_FOUND, so a send's completion never shows
// the answer.
BOOL HttpEndRequestA(HINTERNET request, INTERNET_BUFFERSA* buffersOut, DWORD flags, DWORD_PTR context);
// Hands body bytes of a request started with HttpSendRequestExA to the
// transfer; returns once the transfer took them all (or failed, or
// kWriteTimeoutMs passed).
BOOL InternetWriteFile(HINTERNET request, const void* buffer, DWORD length, DWORD* written);
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
// HTTP_QUERY_STATUS_CODE (as text, or with HTTP_QUERY_FLAG_NUMBER as a DWORD)
// and HTTP_QUERY_RAW_HEADERS_CRLF (the head's lines, each ending in CR LF,
// then the blank line, zero-terminated; *length = characters without the
// terminator). ERROR_HTTP_HEADER_NOT_FOUND before the head has arrived;
// ERROR_INSUFFICIENT_BUFFER with *length = bytes needed when it does not fit.
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length, DWORD* index);
// Body bytes that can be read now without waiting; 0 at the end of the body.
BOOL InternetQueryDataAvailable(HINTERNET request, DWORD* available, DWORD flags, DWORD_PTR context);
BOOL InternetReadFileExA(HINTERNET request, INTERNET_BUFFERSA* buffersOut, DWORD flags, DWORD_PTR context);
BOOL InternetCloseHandle(HINTERNET handle);
