#include "os/kernel/Kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

TEST(KernelEventTest, ManualResetKeepsItsSignalAutoResetGivesItToOneWait) {
    HANDLE manual = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE once = CreateEvent(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 0));
    SetEvent(manual);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
    ResetEvent(manual);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 10));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(once, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(once, 0));
    CloseHandle(manual);
    CloseHandle(once);
}

TEST(KernelEventTest, WaitAllNeedsEverySignal) {
    HANDLE h[2] = {CreateEvent(nullptr, TRUE, TRUE, nullptr), CreateEvent(nullptr, FALSE, FALSE, nullptr)};
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(2, h, TRUE, 5));
    SetEvent(h[1]);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, h, TRUE, 5));
    // The automatic-reset one was consumed by the wait.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h[1], 0));
    CloseHandle(h[0]);
    CloseHandle(h[1]);
}

TEST(KernelEventTest, BadHandlesFail) {
    HANDLE none = nullptr;
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(none, 0));
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(0, &none, FALSE, 0));
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_FALSE(CloseHandle(nullptr));
}

// Waiters on other threads, woken by SetEvent: each signal of an
// automatic-reset event lets exactly one of them through.
TEST(KernelEventTest, ManyThreadsCountAutoResetSignalsExactlyOnce) {
    HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> passed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            HANDLE h[2] = {done, e};
            while (WaitForMultipleObjects(2, h, FALSE, 10000) == WAIT_OBJECT_0 + 1)
                ++passed;
        });
    const int kSignals = 200;
    for (int i = 0; i < kSignals; ++i) {
        SetEvent(e);
        while (passed.load() < i + 1)
            std::this_thread::yield();
    }
    SetEvent(done);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(kSignals, passed.load());
    CloseHandle(e);
    CloseHandle(done);
}

DWORD ReturnParameter(LPVOID p) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p));
}

TEST(KernelThreadTest, ThreadHandleSignalsAtExitWithCode) {
    HANDLE t = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(uintptr_t{42}), 0, nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(42u, code);
    CloseHandle(t);
}

// A thread's thread-local objects are destroyed as it exits, after it signalled
// its end: once CloseHandle returns on an ended thread, that must be done too,
// or a library unloaded right after waiting for its threads would still run.
std::atomic<int> gThreadLocalsDestroyed{0};
struct CountsDestruction {
    ~CountsDestruction() { ++gThreadLocalsDestroyed; }
};
DWORD TouchThreadLocal(LPVOID) {
    thread_local CountsDestruction local;
    (void)&local;
    return 0;
}

TEST(KernelThreadTest, ClosingAnEndedThreadWaitsForItsExit) {
    for (int i = 1; i <= 20; ++i) {
        HANDLE t = CreateThread(nullptr, 0, TouchThreadLocal, nullptr, 0, nullptr);
        ASSERT_NE(nullptr, t);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
        CloseHandle(t);
        ASSERT_EQ(i, gThreadLocalsDestroyed.load());
    }
}

TEST(KernelThreadTest, ClosingARunningThreadLetsItFinish) {
    HANDLE events[2] = {CreateEvent(nullptr, TRUE, FALSE, nullptr),
                        CreateEvent(nullptr, TRUE, FALSE, nullptr)};
    HANDLE t = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* e = static_cast<HANDLE*>(p); // release, finished
            DWORD r = WaitForSingleObject(e[0], 10000);
            SetEvent(e[1]);
            return r;
        },
        events, 0, nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_TRUE(CloseHandle(t)); // must not wait for the running thread
    SetEvent(events[0]);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events[1], 10000));
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST(KernelTimeTest, LocalTimeIsPlausible) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_GE(t.wYear, 2024);
    EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12 && t.wDayOfWeek <= 6 && t.wMilliseconds <= 999);
}

TEST(KernelTextTest, Utf8RoundTripsAndMalformedBecomesReplacement) {
    struct Case {
        const char* utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"", L""},
        {"abc", L"abc"},
        {"gr\xC3\xBC\xC3\x9F", L"gr\u00FC\u00DF"},
        {"\xE2\x82\xAC", L"\u20AC"},
        {"\xF0\x9F\x93\xB7", L"\U0001F4F7"},
        {"a\xFF"
         "b",
         L"a\uFFFDb"},
        {"\xE2\x82", L"\uFFFD\uFFFD"},           // truncated sequence
        {"\xC0\xAF", L"\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"}, // surrogate
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.wide, os::Utf8ToWide(c.utf8)) << c.utf8;
    }
    EXPECT_EQ("gr\xC3\xBC\xC3\x9F", os::WideToUtf8(L"gr\u00FC\u00DF"));
    EXPECT_EQ("\xF0\x9F\x93\xB7", os::WideToUtf8(L"\U0001F4F7"));
}

TEST(KernelTextTest, WindowsSizingRules) {
    // -1 length converts and counts the terminator; a small buffer fails with 0.
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0));
    wchar_t small[2];
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 2));
    wchar_t big[8];
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, big, 8));
    EXPECT_STREQ(L"abc", big);
    char narrow[8];
    EXPECT_EQ(4, WideCharToMultiByte(CP_UTF8, 0, L"\u00FC!", -1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(4, WideCharToMultiByte(CP_UTF8, 0, L"\u00FC!", -1, narrow, 8, nullptr, nullptr));
    EXPECT_STREQ("\xC3\xBC!", narrow);
}

TEST(KernelGlobalMemoryTest, LockCountsAndFree) {
    HGLOBAL g = GlobalAlloc(GHND, 10);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(10u, GlobalSize(g));
    auto* p = static_cast<unsigned char*>(GlobalLock(g));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(std::vector<unsigned char>(10, 0), std::vector<unsigned char>(p, p + 10));
    std::memset(p, 0xAB, 10);
    EXPECT_EQ(p, GlobalLock(g));
    EXPECT_TRUE(GlobalUnlock(g));
    EXPECT_FALSE(GlobalUnlock(g));
    EXPECT_FALSE(GlobalUnlock(g));
    EXPECT_EQ(nullptr, GlobalFree(g));
    EXPECT_EQ(nullptr, GlobalLock(nullptr));
    EXPECT_EQ(0u, GlobalSize(nullptr));
    HGLOBAL empty = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, GlobalSize(empty));
    GlobalFree(empty);
}

} // namespace

TEST(KernelModuleTest, LoadsLibrariesAndFindsTheirFunctions) {
    HMODULE libm = LoadLibraryA("libm.so.6");
    ASSERT_NE(libm, nullptr) << os::LastLoadError();
    auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(libm, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(os::LastLoadError(), "");

    EXPECT_EQ(GetProcAddress(libm, "no_such_function_here"), nullptr);
    EXPECT_NE(os::LastLoadError().find("no_such_function_here"), std::string::npos) << os::LastLoadError();
    EXPECT_EQ(FreeLibrary(libm), TRUE);

    struct Case {
        const char* mName;
        const char* mReason;
    };
    const Case failures[] = {
        {"/nonexistent/libnothing.so", "No such file"},
        {"", "no library name"},
        {nullptr, "no library name"},
    };
    for (const Case& c : failures) {
        EXPECT_EQ(LoadLibraryA(c.mName), nullptr);
        EXPECT_NE(os::LastLoadError().find(c.mReason), std::string::npos) << os::LastLoadError();
    }
    EXPECT_EQ(GetProcAddress(nullptr, "cos"), nullptr);
    EXPECT_EQ(FreeLibrary(nullptr), FALSE);
}
