// The five exports, used as a host uses them: through the public header and
// libipcamview.so. The instance table is process-wide, so every test leaves it
// empty (all its handles stopped), which the next test relies on.
#include "ipcamview/ipcamview.h"

#include "platform/CMachineCodeConvert.h"
#include "viewer/ClosedPort.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int32_t StartAt(const std::string& address, int32_t* audioFlag = nullptr) {
    int32_t flag = 0;
    return Start(0, IPCAMVIEW_TRANSPORT_SOCKET, address.c_str(), 0, "", "", audioFlag ? audioFlag : &flag, 1,
                 IPCAMVIEW_CODEC_NONE);
}

class ExportsTest : public testing::Test {
protected:
    void SetUp() override { mAddress = ClosedLoopbackAddress(); }
    int32_t StartOne() { return StartAt(mAddress); }
    std::string mAddress;
};

TEST_F(ExportsTest, HandlesCountUpFromZeroAndStartAgainWhenAllAreStopped) {
    EXPECT_EQ(0, StartOne());
    EXPECT_EQ(1, StartOne());
    EXPECT_EQ(2, StartOne());
    EXPECT_TRUE(Stop(0));
    EXPECT_EQ(0, StartOne());
    EXPECT_TRUE(Stop(2));
    EXPECT_TRUE(Stop(1));
    EXPECT_TRUE(Stop(0));
    // Every instance stopped: the table is empty and numbering restarts.
    EXPECT_FALSE(Stop(0));
    EXPECT_EQ(0, StartOne());
    EXPECT_TRUE(Stop(0));
}

TEST_F(ExportsTest, StopOfBadHandles) {
    EXPECT_FALSE(Stop(0)) << "before any Start";
    EXPECT_FALSE(Stop(-1));
    EXPECT_FALSE(Stop(INT32_MIN));
    ASSERT_EQ(0, StartOne());
    ASSERT_EQ(1, StartOne());
    const int32_t kBad[] = {-1, -2, 2, 3, INT32_MAX, INT32_MIN};
    for (int32_t handle : kBad)
        EXPECT_FALSE(Stop(handle)) << handle;
    // Still both alive: each can be stopped once with effect.
    EXPECT_TRUE(Stop(1));
    EXPECT_TRUE(Stop(0));
    EXPECT_FALSE(Stop(1)) << "after the table emptied";
    EXPECT_FALSE(Stop(0)) << "after the table emptied";
}

TEST_F(ExportsTest, SecondStopOfAHandleDestroysNothingAndKeepsTheCount) {
    ASSERT_EQ(0, StartOne());
    ASSERT_EQ(1, StartOne());
    EXPECT_TRUE(Stop(0));
    EXPECT_TRUE(Stop(0)); // an emptied entry is still a valid handle
    // Had the second Stop counted, the table would have emptied already.
    EXPECT_EQ(0, StartOne()) << "handle 0 was freed once, not twice";
    EXPECT_EQ(2, StartOne());
    EXPECT_TRUE(Stop(1));
    EXPECT_TRUE(Stop(1));
    EXPECT_TRUE(Stop(0));
    EXPECT_TRUE(Stop(2));
    EXPECT_FALSE(Stop(2));
}

TEST_F(ExportsTest, FreedHandlesAreReusedLastFreedFirst) {
    for (int32_t expected = 0; expected < 5; ++expected)
        ASSERT_EQ(expected, StartOne());
    EXPECT_TRUE(Stop(1));
    EXPECT_TRUE(Stop(3));
    EXPECT_TRUE(Stop(2));
    EXPECT_EQ(2, StartOne());
    EXPECT_EQ(3, StartOne());
    EXPECT_EQ(1, StartOne());
    EXPECT_EQ(5, StartOne());
    for (int32_t handle = 0; handle <= 5; ++handle)
        EXPECT_TRUE(Stop(handle)) << handle;
    EXPECT_FALSE(Stop(0));
}

TEST_F(ExportsTest, UnparsableAddressGivesNoHandleAndLeavesTheTable) {
    ASSERT_EQ(0, StartOne());
    ASSERT_EQ(1, StartOne());
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
                                kLongHost.c_str()};
    for (const char* address : kBad) {
        int32_t audio = 1;
        EXPECT_EQ(IPCAMVIEW_INVALID_HANDLE,
                  Start(0, IPCAMVIEW_TRANSPORT_SOCKET, address, 0, "u", "p", &audio, 1, IPCAMVIEW_CODEC_JPEG))
            << address;
        EXPECT_EQ(1, audio) << address;
    }
    int32_t audio = 0;
    EXPECT_EQ(IPCAMVIEW_INVALID_HANDLE, Start(0, 2, nullptr, 0, nullptr, nullptr, &audio, 0, 0));
    // The free handle and the live instance are as they were.
    EXPECT_EQ(0, StartOne());
    EXPECT_EQ(2, StartOne());
    EXPECT_TRUE(Stop(0));
    EXPECT_TRUE(Stop(1));
    EXPECT_TRUE(Stop(2));
    EXPECT_FALSE(Stop(0));
}

TEST_F(ExportsTest, DeviceThatIsNotThereStillGetsAHandleAndTheAudioFlagStays) {
    struct Case {
        std::string address;
        int32_t transport;
        int32_t audio;
    };
    const Case kCases[] = {
        {mAddress, IPCAMVIEW_TRANSPORT_SOCKET, 1},
        {"http://" + mAddress + "/", IPCAMVIEW_TRANSPORT_SOCKET, 0},
        {"http://" + mAddress + "/vb.htm", IPCAMVIEW_TRANSPORT_SOCKET, 12345},
        {"http://" + mAddress + "/x?y=%20", IPCAMVIEW_TRANSPORT_SOCKET, -7},
    };
    std::vector<int32_t> handles;
    for (const Case& c : kCases) {
        int32_t audio = c.audio;
        int32_t handle =
            Start(0, c.transport, c.address.c_str(), 0, "admin", "secret", &audio, 1, IPCAMVIEW_CODEC_H264);
        EXPECT_EQ(static_cast<int32_t>(handles.size()), handle) << c.address;
        EXPECT_EQ(c.audio, audio) << c.address;
        handles.push_back(handle);
    }
    for (int32_t handle : handles)
        EXPECT_TRUE(Stop(handle));
}

TEST_F(ExportsTest, ConcurrentStartsAndStopsNeverShareALiveHandle) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 60;
    std::mutex lock;
    std::set<int32_t> live;
    int duplicates = 0;
    int failures = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                if ((round + t) % 5 == 0) {
                    int32_t audio = 1;
                    if (Start(0, 1, "/bad", 0, "", "", &audio, 1, 0) != IPCAMVIEW_INVALID_HANDLE)
                        ++failures;
                    continue;
                }
                // Two handles at once, so each is live in the table while the
                // other thread's Starts run.
                int32_t handles[2] = {StartOne(), StartOne()};
                for (int32_t handle : handles) {
                    std::lock_guard<std::mutex> guard(lock);
                    if (handle < 0)
                        ++failures;
                    else if (!live.insert(handle).second)
                        ++duplicates;
                }
                for (int32_t handle : handles) {
                    if (handle < 0)
                        continue;
                    {
                        std::lock_guard<std::mutex> guard(lock);
                        live.erase(handle);
                    }
                    if (!Stop(handle)) {
                        std::lock_guard<std::mutex> guard(lock);
                        ++failures;
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, duplicates);
    EXPECT_EQ(0, failures);
    // Everything was stopped: the table is empty again.
    EXPECT_FALSE(Stop(0));
    EXPECT_EQ(0, StartOne());
    EXPECT_TRUE(Stop(0));
}

// Rows of the device table in docs/devices.md: code and documented columns.
struct DeviceRow {
    std::string name;
    int32_t code;
    int32_t type;
    int32_t channels;
    int32_t receive;
};

std::vector<DeviceRow> ReadDeviceTable() {
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    std::string path = std::string(root ? root : ".") + "/docs/devices.md";
    std::ifstream file(path);
    EXPECT_TRUE(file.good()) << path;
    std::vector<DeviceRow> rows;
    const std::regex kRow(
        R"(^\|\s*([^|]+?)\s*\|\s*0x([0-9A-Fa-f]+)\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|)");
    bool inTable = false;
    std::string line;
    while (std::getline(file, line)) {
        if (line.find("devices-table-begin") != std::string::npos)
            inTable = true;
        else if (line.find("devices-table-end") != std::string::npos)
            inTable = false;
        std::smatch match;
        if (!inTable || !std::regex_search(line, match, kRow))
            continue;
        DeviceRow row;
        row.name = match[1];
        row.code = static_cast<int32_t>(std::stoll(match[2], nullptr, 16));
        EXPECT_EQ(row.code, std::stoll(match[3])) << row.name << ": hex and decimal codes differ";
        row.type = std::stoi(match[4]);
        row.channels = std::stoi(match[5]);
        row.receive = std::stoi(match[6]);
        rows.push_back(row);
    }
    return rows;
}

TEST(ExportsQueryTest, EveryDocumentedModelAnswersAsTheModelTable) {
    const std::vector<DeviceRow> rows = ReadDeviceTable();
    ASSERT_GE(rows.size(), 10u) << "docs/devices.md table not found or not parsed";
    for (const DeviceRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(media_util::CMachineCodeConvert::GetDeviceType(row.code), GetDeviceType(row.code));
        EXPECT_EQ(media_util::CMachineCodeConvert::GetMaxChannel(row.code), GetMaxChannel(row.code));
        EXPECT_EQ(media_util::CMachineCodeConvert::GetMediaReceiveType(row.code),
                  GetMediaReceiveType(row.code));
        EXPECT_EQ(row.type, GetDeviceType(row.code));
        EXPECT_EQ(row.channels, GetMaxChannel(row.code));
        EXPECT_EQ(row.receive, GetMediaReceiveType(row.code));
    }
}

TEST(ExportsQueryTest, CodesOutsideTheTableAnswerAsTheModelTable) {
    std::set<int32_t> documented;
    for (const DeviceRow& row : ReadDeviceTable())
        documented.insert(row.code);
    std::vector<int32_t> codes = {0,       -1,     1,          2,         0x1412 - 1, 0x1412 + 1,
                                  0x10005, 0xFFFF, 0x7FFFFFFF, INT32_MIN, -5138};
    for (int32_t code : documented) {
        codes.push_back(code + 1);
        codes.push_back(code - 1);
        codes.push_back(code | 0x40000000);
    }
    for (int32_t code : codes) {
        SCOPED_TRACE(code);
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
