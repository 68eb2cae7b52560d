// The five exports, used as a host uses them: through the public header and
// libipcamview.so. The instance table is process-wide, so every test leaves it
// empty (all its handles stopped), which the next test relies on.
#include "ipcamview/ipcamview.h"

#include "DeviceTable.h"
#include "platform/CMachineCodeConvert.h"
#include "viewer/ClosedPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <set>
#include <thread>

namespace {

int32_t StartAt(const std::string& address) {
    int32_t audio = 0;
    return Start(0, IPCAMVIEW_TRANSPORT_SOCKET, address.c_str(), 0, "", "", &audio, 1, IPCAMVIEW_CODEC_NONE);
}

// Handles count up from 0, a stopped handle stays valid (a second Stop
// destroys nothing and frees nothing twice), freed handles come back
// last-freed-first, and the table empties (numbering restarts) when the last
// instance stops.
TEST(ExportsTest, HandleLifecycle) {
    enum Op { kStart, kStop };
    struct Step {
        Op op;
        int32_t handle;   // Stop's argument
        int32_t expected; // Start's handle, or Stop's result as 0/1
    };
    const Step kSteps[] = {
        {kStop, 0, 0},         {kStop, -1, 0}, {kStart, 0, 0}, {kStart, 0, 1}, {kStart, 0, 2},
        {kStart, 0, 3},        {kStart, 0, 4}, {kStop, 5, 0},  {kStop, -1, 0}, {kStop, INT32_MIN, 0},
        {kStop, INT32_MAX, 0}, {kStop, 1, 1},  {kStop, 3, 1},  {kStop, 2, 1},  {kStop, 2, 1},
        {kStart, 0, 2},        {kStart, 0, 3}, {kStart, 0, 1}, {kStart, 0, 5}, {kStop, 0, 1},
        {kStop, 1, 1},         {kStop, 2, 1},  {kStop, 3, 1},  {kStop, 4, 1},  {kStop, 5, 1},
        {kStop, 0, 0},         {kStop, 5, 0},  {kStart, 0, 0}, {kStop, 0, 1},
    };
    const std::string address = ClosedLoopbackAddress();
    int step = 0;
    for (const Step& s : kSteps) {
        SCOPED_TRACE(step++);
        if (s.op == kStart)
            EXPECT_EQ(s.expected, StartAt(address));
        else
            EXPECT_EQ(s.expected != 0, Stop(s.handle)) << s.handle;
    }
}

// Start gives a handle at once to every address that parses, a device that
// is not there (a closed loopback port) included, and none to one that does
// not, which also leaves the table as it was: its free handle and its live
// instance. The audio flag stays as the host gave it: it is written only
// after a device set-up.
TEST(ExportsTest, OnlyAddressesThatParseGetAHandle) {
    const std::string address = ClosedLoopbackAddress();
    ASSERT_EQ(0, StartAt(address));
    ASSERT_EQ(1, StartAt(address));
    ASSERT_TRUE(Stop(0));
    const std::string longHost = "http://" + std::string(2000, 'h') + "/";
    const std::string page = "http://" + address + "/vb.htm", query = "http://" + address + "/x?y=%20";
    std::vector<const char*> addresses = {
        "",           "/x", "http:///x", "127.0.0.1:0", "127.0.0.1:99999", "http://:80/", "http://host:port/",
        "127.0.0.1/x"};
    addresses.insert(addresses.end(), {longHost.c_str(), nullptr, page.c_str(), query.c_str()});
    int32_t next = 0; // the free handle, then the one after the live instance
    for (const char* c : addresses) {
        const bool parses = c == page.c_str() || c == query.c_str();
        int32_t audio = 12345;
        EXPECT_EQ(
            parses ? next : IPCAMVIEW_INVALID_HANDLE,
            Start(0, IPCAMVIEW_TRANSPORT_SOCKET, c, 0, "admin", "secret", &audio, 1, IPCAMVIEW_CODEC_H264))
            << (c ? c : "(null)");
        next += parses ? 2 : 0;
        EXPECT_EQ(12345, audio);
    }
    for (int32_t handle : {0, 1, 2})
        EXPECT_TRUE(Stop(handle));
    EXPECT_FALSE(Stop(0));
}

// Several threads Start and Stop at once (run under TSan too): every Start
// gives a handle no other thread holds live, every Stop of it succeeds.
TEST(ExportsTest, ConcurrentStartsAndStopsNeverShareALiveHandle) {
    const std::string address = ClosedLoopbackAddress();
    std::mutex lock;
    std::set<int32_t> live; // guarded by lock
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 60; ++round) {
                int32_t audio = 1;
                if ((round + t) % 5 == 0) {
                    failures += Start(0, 1, "/bad", 0, "", "", &audio, 1, 0) != IPCAMVIEW_INVALID_HANDLE;
                    continue;
                }
                // Two at once, so each is live while the other threads' Starts run.
                const int32_t handles[2] = {StartAt(address), StartAt(address)};
                for (int32_t handle : handles) {
                    std::lock_guard<std::mutex> guard(lock);
                    failures += handle < 0 || !live.insert(handle).second;
                }
                for (int32_t handle : handles) {
                    std::unique_lock<std::mutex> guard(lock);
                    live.erase(handle);
                    guard.unlock();
                    failures += !Stop(handle);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_FALSE(Stop(0)) << "everything was stopped: the table is empty again";
}

// The three queries answer as the model table for every code of
// docs/devices.md, as documented there, and for codes beside and outside
// them; those are unknown, with no channels.
TEST(ExportsTest, QueriesAnswerAsTheModelTable) {
    const auto rows = DeviceTableRows();
    ASSERT_GE(rows.size(), 10u) << "docs/devices.md table not found or not parsed";
    std::set<int32_t> documented;
    std::vector<int32_t> codes = {0, -1, 1, 0xFFFF, 0x7FFFFFFF, INT32_MIN};
    for (const auto& row : rows) {
        const int32_t code = std::stoi(row[1], nullptr, 16);
        documented.insert(code);
        codes.insert(codes.end(), {code, code + 1, code - 1, code | 0x40000000});
        EXPECT_EQ(std::stoi(row[3]), GetDeviceType(code)) << row[1];
        EXPECT_EQ(std::stoi(row[4]), GetMaxChannel(code)) << row[1];
        EXPECT_EQ(std::stoi(row[5]), GetMediaReceiveType(code)) << row[1];
    }
    for (int32_t code : codes) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        EXPECT_EQ(media_util::CMachineCodeConvert::GetDeviceType(code), GetDeviceType(code));
        EXPECT_EQ(media_util::CMachineCodeConvert::GetMaxChannel(code), GetMaxChannel(code));
        EXPECT_EQ(media_util::CMachineCodeConvert::GetMediaReceiveType(code), GetMediaReceiveType(code));
        if (documented.count(code) == 0) {
            EXPECT_EQ(IPCAMVIEW_DEVICE_UNKNOWN, GetDeviceType(code));
            EXPECT_EQ(0, GetMaxChannel(code));
            EXPECT_EQ(IPCAMVIEW_RECEIVE_NONE, GetMediaReceiveType(code));
        }
    }
}

} // namespace
