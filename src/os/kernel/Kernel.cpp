#include "os/kernel/Kernel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <sys/time.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Every event and thread object's state is guarded by this one lock. The
// critical sections under it are a few instructions long; each waiting thread
// sleeps on a condition variable of its own, which the objects it waits for
// notify, so a SetEvent wakes only the threads that wait on that event.
std::mutex gKernelLock;

struct Waiter {
    std::condition_variable cv;
};

constexpr uint32_t kEventMagic = 0x45564E54;  // "EVNT"
constexpr uint32_t kThreadMagic = 0x54485244; // "THRD"

struct KernelObject {
    uint32_t magic;
    bool manualReset;
    bool signalled;
    std::vector<Waiter*> waiters; // guarded by gKernelLock
    explicit KernelObject(uint32_t m, bool manual, bool initial)
        : magic(m), manualReset(manual), signalled(initial) {}
    virtual ~KernelObject() { magic = 0; }
};

struct ThreadObject : KernelObject {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
    DWORD exitCode = STILL_ACTIVE;
    int references = 2; // the handle and the running thread; guarded by gKernelLock
    // Joined by CloseHandle when the routine has already returned, so that a
    // library can be unloaded right after its threads were waited for: the
    // few instructions a thread runs after signalling its end are then
    // finished too. Detached when the handle is closed while it still runs.
    std::thread thread; // guarded by gKernelLock
    ThreadObject(LPTHREAD_START_ROUTINE r, LPVOID p)
        : KernelObject(kThreadMagic, true, false), routine(r), parameter(p) {}
};

KernelObject* AsObject(HANDLE h) {
    auto* object = static_cast<KernelObject*>(h);
    if (object == nullptr || (object->magic != kEventMagic && object->magic != kThreadMagic))
        return nullptr;
    return object;
}

// Signals an object and wakes its waiters. Caller holds gKernelLock.
void SignalLocked(KernelObject* object) {
    object->signalled = true;
    for (Waiter* w : object->waiters)
        w->cv.notify_one();
}

// Caller holds gKernelLock. An automatic-reset event gives its signal to one waiter.
void ConsumeLocked(KernelObject* object) {
    if (!object->manualReset)
        object->signalled = false;
}

void ReleaseThreadObjectLocked(ThreadObject* thread) {
    if (--thread->references == 0)
        delete thread;
}

std::atomic<uint32_t> gTimeOffset{0};

} // namespace

HANDLE CreateEvent(void*, BOOL manualReset, BOOL initialState, const char*) {
    return new (std::nothrow) KernelObject(kEventMagic, manualReset != 0, initialState != 0);
}

BOOL SetEvent(HANDLE event) {
    std::lock_guard<std::mutex> lock(gKernelLock);
    KernelObject* object = AsObject(event);
    if (object == nullptr || object->magic != kEventMagic)
        return FALSE;
    SignalLocked(object);
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    std::lock_guard<std::mutex> lock(gKernelLock);
    KernelObject* object = AsObject(event);
    if (object == nullptr || object->magic != kEventMagic)
        return FALSE;
    object->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr)
        return WAIT_FAILED;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(gKernelLock);
    KernelObject* objects[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = AsObject(handles[i]);
        if (objects[i] == nullptr)
            return WAIT_FAILED;
    }
    Waiter waiter;
    bool registered = false;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (waitAll) {
            bool all = std::all_of(objects, objects + count, [](KernelObject* o) { return o->signalled; });
            if (all) {
                for (DWORD i = 0; i < count; ++i)
                    ConsumeLocked(objects[i]);
                result = WAIT_OBJECT_0;
                break;
            }
        } else {
            DWORD i = 0;
            while (i < count && !objects[i]->signalled)
                ++i;
            if (i < count) {
                ConsumeLocked(objects[i]);
                result = WAIT_OBJECT_0 + i;
                break;
            }
        }
        if (milliseconds == 0)
            break;
        if (!registered) {
            for (DWORD i = 0; i < count; ++i)
                objects[i]->waiters.push_back(&waiter);
            registered = true;
        }
        if (milliseconds == INFINITE) {
            waiter.cv.wait(lock);
        } else if (waiter.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: a signal may have come with the time-out.
            milliseconds = 0;
        }
    }
    if (registered) {
        for (DWORD i = 0; i < count; ++i) {
            auto& list = objects[i]->waiters;
            list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
        }
    }
    return result;
}

BOOL CloseHandle(HANDLE handle) {
    std::unique_lock<std::mutex> lock(gKernelLock);
    KernelObject* object = AsObject(handle);
    if (object == nullptr)
        return FALSE;
    if (object->magic == kThreadMagic) {
        auto* thread = static_cast<ThreadObject*>(object);
        std::thread ended;
        if (thread->thread.joinable()) {
            if (thread->signalled && thread->thread.get_id() != std::this_thread::get_id())
                ended = std::move(thread->thread);
            else
                thread->thread.detach();
        }
        ReleaseThreadObjectLocked(thread);
        lock.unlock();
        if (ended.joinable())
            ended.join(); // only its exit is left to run
        return TRUE;
    }
    delete object;
    return TRUE;
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    section->impl = new std::recursive_mutex();
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    return static_cast<std::recursive_mutex*>(section->impl)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}

HANDLE CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD, DWORD* threadId) {
    if (routine == nullptr)
        return nullptr;
    auto* object = new ThreadObject(routine, parameter);
    // The new thread cannot finish its release before the std::thread is
    // stored: its last step needs the kernel lock held here.
    std::lock_guard<std::mutex> lock(gKernelLock);
    try {
        object->thread = std::thread([object] {
            DWORD code = object->routine(object->parameter);
            std::lock_guard<std::mutex> lock(gKernelLock);
            object->exitCode = code;
            SignalLocked(object);
            ReleaseThreadObjectLocked(object);
        });
    } catch (const std::system_error&) {
        delete object;
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = 0; // ids are per thread; the caller asks GetCurrentThreadId on it
    return object;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    std::lock_guard<std::mutex> lock(gKernelLock);
    KernelObject* object = AsObject(thread);
    if (object == nullptr || object->magic != kThreadMagic || exitCode == nullptr)
        return FALSE;
    *exitCode = static_cast<ThreadObject*>(object)->exitCode;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    static std::atomic<DWORD> next{1};
    thread_local DWORD id = next++;
    return id;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LONG InterlockedIncrement(volatile LONG* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(volatile LONG* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(volatile LONG* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

DWORD timeGetTime() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<DWORD>(static_cast<uint64_t>(ms)) + gTimeOffset.load(std::memory_order_relaxed);
}

DWORD SetTimeGetTimeOffsetForTest(DWORD offset) {
    return gTimeOffset.exchange(offset);
}

void GetLocalTime(SYSTEMTIME* out) {
    if (out == nullptr)
        return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm local;
    time_t seconds = tv.tv_sec;
    localtime_r(&seconds, &local);
    out->wYear = static_cast<WORD>(local.tm_year + 1900);
    out->wMonth = static_cast<WORD>(local.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    out->wDay = static_cast<WORD>(local.tm_mday);
    out->wHour = static_cast<WORD>(local.tm_hour);
    out->wMinute = static_cast<WORD>(local.tm_min);
    out->wSecond = static_cast<WORD>(local.tm_sec);
    out->wMilliseconds = static_cast<WORD>(tv.tv_usec / 1000);
}

// ---------------------------------------------------------------------------
// UTF-8 <-> UTF-32

namespace {

// Decodes one UTF-8 sequence at text[i] (i < n) and advances i. Malformed,
// overlong or surrogate sequences give U+FFFD and consume one byte.
char32_t DecodeUtf8(const unsigned char* text, size_t n, size_t& i) {
    unsigned char c = text[i];
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra;
    char32_t cp;
    char32_t minimum;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<size_t>(extra) >= n) { // truncated sequence
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        unsigned char cc = text[i + k];
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

size_t EncodeUtf8(char32_t cp, char* out) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace

int MultiByteToWideChar(UINT, DWORD, const char* text, int length, wchar_t* out, int outSize) {
    if (text == nullptr || length < -1 || outSize < 0)
        return 0;
    size_t n = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    int produced = 0;
    for (size_t i = 0; i < n;) {
        char32_t cp = DecodeUtf8(bytes, n, i);
        if (outSize > 0) {
            if (produced >= outSize)
                return 0;
            out[produced] = static_cast<wchar_t>(cp);
        }
        ++produced;
    }
    return produced;
}

int WideCharToMultiByte(UINT, DWORD, const wchar_t* text, int length, char* out, int outSize, const char*,
                        BOOL* usedDefault) {
    if (usedDefault != nullptr)
        *usedDefault = FALSE;
    if (text == nullptr || length < -1 || outSize < 0)
        return 0;
    size_t n = length == -1 ? std::wcslen(text) + 1 : static_cast<size_t>(length);
    int produced = 0;
    char buffer[4];
    for (size_t i = 0; i < n; ++i) {
        size_t k = EncodeUtf8(static_cast<char32_t>(text[i]), buffer);
        if (outSize > 0) {
            if (produced + static_cast<int>(k) > outSize)
                return 0;
            std::memcpy(out + produced, buffer, k);
        }
        produced += static_cast<int>(k);
    }
    return produced;
}

namespace os {

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
    return result;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string result(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr,
                        nullptr);
    return result;
}

} // namespace os

// ---------------------------------------------------------------------------
// Global memory

namespace {

constexpr uint32_t kGlobalMagic = 0x474C4F42; // "GLOB"

struct GlobalBlock {
    uint32_t magic;
    uint32_t locks;
    size_t size;
    alignas(std::max_align_t) unsigned char data[1];
};

GlobalBlock* AsBlock(HGLOBAL h) {
    auto* block = static_cast<GlobalBlock*>(h);
    if (block == nullptr || block->magic != kGlobalMagic)
        return nullptr;
    return block;
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T size) {
    size_t total = offsetof(GlobalBlock, data) + (size == 0 ? 1 : size);
    if (total < size)
        return nullptr;
    void* memory = (flags & GMEM_ZEROINIT) ? std::calloc(1, total) : std::malloc(total);
    if (memory == nullptr)
        return nullptr;
    auto* block = static_cast<GlobalBlock*>(memory);
    block->magic = kGlobalMagic;
    block->locks = 0;
    block->size = size;
    return block;
}

LPVOID GlobalLock(HGLOBAL memory) {
    GlobalBlock* block = AsBlock(memory);
    if (block == nullptr)
        return nullptr;
    ++block->locks;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL memory) {
    GlobalBlock* block = AsBlock(memory);
    if (block == nullptr || block->locks == 0)
        return FALSE;
    --block->locks;
    return block->locks > 0 ? TRUE : FALSE;
}

SIZE_T GlobalSize(HGLOBAL memory) {
    GlobalBlock* block = AsBlock(memory);
    return block == nullptr ? 0 : block->size;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    GlobalBlock* block = AsBlock(memory);
    if (block == nullptr)
        return memory;
    block->magic = 0;
    std::free(block);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Modules

namespace {
thread_local std::string tLastLoadError;

void KeepLoadError() {
    const char* reason = dlerror();
    tLastLoadError = reason != nullptr ? reason : "";
}
} // namespace

HMODULE LoadLibraryA(const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        tLastLoadError = "no library name";
        return nullptr;
    }
    // dlopen searches the run path of the module it is called from; this
    // layer is linked into the module that loads, so that module's run path
    // is the one searched.
    HMODULE module = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        KeepLoadError();
    else
        tLastLoadError.clear();
    return module;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
    if (module == nullptr || procName == nullptr) {
        tLastLoadError = "no module or no name";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(module, procName);
    if (address == nullptr) {
        KeepLoadError();
        return nullptr;
    }
    tLastLoadError.clear();
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr)
        return FALSE;
    return dlclose(module) == 0 ? TRUE : FALSE;
}

namespace os {
std::string LastLoadError() {
    return tLastLoadError;
}
} // namespace os
