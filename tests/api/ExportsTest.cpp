// The five exports, used as a host uses them: through the public header and
// libipcamview.so. The instance table is process-wide, so every test leaves it
// empty (all its handles stopped), which the next test relies on.
#include "ipcamview/ipcamview.h"

#include "platform/CMachineCodeConvert.h"
#include "viewer/ClosedPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

// An address that does not parse gives no handle, leaves the audio flag and
// leaves the table as it was: its free handle and its live instance.
TEST(ExportsTest, UnparsableAddressGivesNoHandleAndLeavesTheTable) {
    const std::string address = ClosedLoopbackAddress();
    ASSERT_EQ(0, StartAt(address));
    ASSERT_EQ(1, StartAt(address));
    ASSERT_TRUE(Stop(0));
    const std::string kLongHost = "http://" + std::string(2000, 'h') + "/";
    const char* const kBad[] = {"",
                                "/x",
                                "http:///x",
                                "127.0.0.1:0",
                                "127.0.0.1:99999",
                                "http://:80/",
                                "http://host:port/",
                                "127.0.0.1/x",
                                kLongHost.c_str(),
                                nullptr};
    for (const char* bad : kBad) {
        int32_t audio = 1;
        EXPECT_EQ(IPCAMVIEW_INVALID_HANDLE,
                  Start(0, IPCAMVIEW_TRANSPORT_SOCKET, bad, 0, "u", "p", &audio, 1, IPCAMVIEW_CODEC_JPEG))
            << (bad ? bad : "(null)");
        EXPECT_EQ(1, audio);
    }
    EXPECT_EQ(0, StartAt(address));
    EXPECT_EQ(2, StartAt(address));
    for (int32_t handle : {0, 1, 2})
        EXPECT_TRUE(Stop(handle));
    EXPECT_FALSE(Stop(0));
}

// A well-formed address of a device that is not there (a closed loopback
// port): a handle at once, and the audio flag untouched since no set-up ran.
TEST(ExportsTest, DeviceThatIsNotThereStillGetsAHandleAndTheAudioFlagStays) {
    const std::string address = ClosedLoopbackAddress();
    struct Case {
        std::string address;
        int32_t audio;
    };
    const Case kCases[] = {
        {address, 1}, {"http://" + address + "/vb.htm", 12345}, {"http://" + address + "/x?y=%20", -7}};
    int32_t expected = 0;
    for (const Case& c : kCases) {
        int32_t audio = c.audio;
        EXPECT_EQ(expected++, Start(0, IPCAMVIEW_TRANSPORT_SOCKET, c.address.c_str(), 0, "admin", "secret",
                                    &audio, 1, IPCAMVIEW_CODEC_H264))
            << c.address;
        EXPECT_EQ(c.audio, audio) << c.address;
    }
    for (int32_t handle = 0; handle < expected; ++handle)
        EXPECT_TRUE(Stop(handle));
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

// Machine codes of the device table in docs/devices.md, with the documented
// device type, channel count and receive type.
struct DeviceRow {
    int32_t code, type, channels, receive;
};

std::vector<DeviceRow> ReadDeviceTable() {
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    std::ifstream file(std::string(root ? root : ".") + "/docs/devices.md");
    const std::regex kRow(
        R"(^\|[^|]+\|\s*0x([0-9A-Fa-f]+)\s*\|\s*\d+\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|)");
    std::vector<DeviceRow> rows;
    bool inTable = false;
    for (std::string line; std::getline(file, line);) {
        if (line.find("devices-table-") != std::string::npos)
            inTable = line.find("devices-table-begin") != std::string::npos;
        std::smatch m;
        if (inTable && std::regex_search(line, m, kRow))
            rows.push_back({static_cast<int32_t>(std::stoll(m[1], nullptr, 16)), std::stoi(m[2]),
                            std::stoi(m[3]), std::stoi(m[4])});
    }
    return rows;
}

// The three queries answer as the model table for every documented code and
// for codes beside and outside them; those are unknown, with no channels.
TEST(ExportsTest, QueriesAnswerAsTheModelTable) {
    const std::vector<DeviceRow> rows = ReadDeviceTable();
    ASSERT_GE(rows.size(), 10u) << "docs/devices.md table not found or not parsed";
    std::set<int32_t> documented;
    std::vector<int32_t> codes = {0, -1, 1, 0xFFFF, 0x7FFFFFFF, INT32_MIN};
    for (const DeviceRow& row : rows) {
        documented.insert(row.code);
        codes.insert(codes.end(), {row.code, row.code + 1, row.code - 1, row.code | 0x40000000});
        EXPECT_EQ(row.type, GetDeviceType(row.code)) << std::hex << row.code;
        EXPECT_EQ(row.channels, GetMaxChannel(row.code)) << std::hex << row.code;
        EXPECT_EQ(row.receive, GetMediaReceiveType(row.code)) << std::hex << row.code;
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
