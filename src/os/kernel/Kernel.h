// The Win32 kernel calls the viewer is written against, stood in for on Linux.
//
// Everything here keeps the shape and the results of the Windows call it is
// named after, so that the code above reads as it would on Windows; the work is
// done by the C++ standard library (threads, mutexes, condition variables,
// clocks). Only what the callers use is provided.
//
// Handles: a HANDLE is a pointer to a kernel object of this layer (an event or
// a thread). Every object is destroyed by CloseHandle. Waiting on a thread
// handle waits for the thread to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using HANDLE = void*;
using HGLOBAL = void*;
using LPVOID = void*;
using SIZE_T = size_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
// WaitForMultipleObjects takes at most this many handles, as on Windows.
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// ---------------------------------------------------------------------------
// Events

// Creates an event. Manual-reset events stay signalled until ResetEvent;
// automatic-reset events release exactly one waiter and reset themselves.
// The security attributes and the name of the Windows call are not supported
// (the viewer never names an event).
HANDLE CreateEvent(void* security, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits until the object is signalled or the time-out (milliseconds, INFINITE
// for none) passes. WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED (null or
// unknown handle). Waiting on an automatic-reset event consumes its signal.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// Waits on 1 to MAXIMUM_WAIT_OBJECTS objects. With waitAll false the result is
// WAIT_OBJECT_0 + the lowest index of a signalled object (only that object's
// automatic reset is consumed); with waitAll true it is WAIT_OBJECT_0 once all
// are signalled at the same moment. WAIT_TIMEOUT when the time passes first.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

BOOL CloseHandle(HANDLE object);

// ---------------------------------------------------------------------------
// Critical sections: a lock that the owning thread may take again.

struct CRITICAL_SECTION {
    void* impl = nullptr; // the std::recursive_mutex behind it
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// ---------------------------------------------------------------------------
// Threads

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

// Starts routine(parameter) on a new thread. The returned handle is signalled
// when the routine has returned; CloseHandle on it does not stop the thread.
// The security, stack size and flag arguments are accepted and ignored.
HANDLE CreateThread(void* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD flags, DWORD* threadId);
// The exit code of a finished thread; STILL_ACTIVE while it runs.
constexpr DWORD STILL_ACTIVE = 259;
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetCurrentThreadId();

void Sleep(DWORD milliseconds);

LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);
LONG InterlockedExchange(volatile LONG* target, LONG value);

// ---------------------------------------------------------------------------
// Time

// Milliseconds of a monotonic clock as an unsigned 32-bit value. It wraps
// after 49.7 days, so intervals are computed as (later - earlier) in DWORD
// arithmetic, which stays right across the wrap.
DWORD timeGetTime();
// Test hook: adds a constant to every later timeGetTime result, so tests can
// place the clock just before the wrap. Returns the previous offset.
DWORD SetTimeGetTimeOffsetForTest(DWORD offset);

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek; // 0 = Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is 16 bytes as on Windows");

void GetLocalTime(SYSTEMTIME* time);

// ---------------------------------------------------------------------------
// Text: the viewer's narrow strings are UTF-8 (CP_ACP is taken as UTF-8 too);
// wide strings are wchar_t, which is UTF-32 here.

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

// As on Windows: with a zero output size the result is the number of wide
// characters needed; a length of -1 means the input is null-terminated and the
// terminator is converted (and counted) too. 0 on failure (output too small).
// Invalid UTF-8 bytes become U+FFFD.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, wchar_t* out, int outSize);
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* text, int length, char* out, int outSize,
                        const char* defaultChar, BOOL* usedDefault);

namespace os {
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
} // namespace os

// ---------------------------------------------------------------------------
// Global memory: blocks handed between libraries, locked to get their address.

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A block of at least size bytes (a zero size gives a valid, empty block);
// null when memory runs out.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T size);
// The block's address; null for a null handle. Each lock counts.
LPVOID GlobalLock(HGLOBAL memory);
// TRUE while the block is still locked after this unlock, FALSE when unlocked.
BOOL GlobalUnlock(HGLOBAL memory);
SIZE_T GlobalSize(HGLOBAL memory);
// Null on success, the handle back when it could not be freed.
HGLOBAL GlobalFree(HGLOBAL memory);

// ---------------------------------------------------------------------------
// Modules: shared libraries loaded while the program runs (dlopen), so that a
// heavy library is mapped only by the processes that use it.

using HMODULE = void*;
using FARPROC = void (*)();

// Loads a shared library by file name (searched as the dynamic linker does:
// LD_LIBRARY_PATH, the run path of the module that calls, the system's
// directories) or by path. Every symbol is bound at load time and none is
// added to the global scope. Null when it cannot be loaded; os::LastLoadError
// then says why. Each load counts; FreeLibrary undoes one.
HMODULE LoadLibraryA(const char* fileName);
// The address of an exported function; null for a null module or an unknown
// name.
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

namespace os {
// The dynamic linker's reason for the calling thread's last failed
// LoadLibraryA or GetProcAddress ("" after one that succeeded).
std::string LastLoadError();
} // namespace os

// ---------------------------------------------------------------------------
// Files (Files.cpp, an object of its own, so that a library that needs only
// these does not take the rest of the layer with it).

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001u;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010u;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080u;

// The attributes of a file or directory; INVALID_FILE_ATTRIBUTES when it does
// not exist (or cannot be looked at). FILE_ATTRIBUTE_READONLY is set when the
// calling process may not write it (for a directory: may not create files in
// it), FILE_ATTRIBUTE_NORMAL for a plain writable file.
DWORD GetFileAttributesA(const char* fileName);
