#include "platform/CMachineCodeConvert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

using media_util::CMachineCodeConvert;

namespace {

struct DocRow {
    char name[64];
    long hexCode, decimalCode;
    int deviceType, maxChannel, receiveType;
};

// The rows between the table markers of docs/devices.md. The column-name and
// |---| lines do not scan; neither does a malformed row, which then shows as
// a missing one.
std::vector<DocRow> ReadDevicesDoc() {
    // ctest sets IPCAM_SOURCE_DIR; run by hand, the tree is found from this file's path.
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    const std::string file = __FILE__;
    std::ifstream in((root != nullptr && *root ? root : file.substr(0, file.rfind("/tests/"))) +
                     "/docs/devices.md");
    std::vector<DocRow> rows;
    std::string line;
    bool inTable = false;
    while (std::getline(in, line) && line.find("devices-table-end") == std::string::npos) {
        inTable = inTable || line.find("devices-table-begin") != std::string::npos;
        DocRow r{};
        char end = 0;
        if (inTable &&
            std::sscanf(line.c_str(), "| %63[^ |] | 0x%lx | %ld | %d | %d | %d %c", r.name, &r.hexCode,
                        &r.decimalCode, &r.deviceType, &r.maxChannel, &r.receiveType, &end) == 7 &&
            end == '|')
            rows.push_back(r);
    }
    return rows;
}

TEST(CMachineCodeConvertTest, DocumentedTableMatchesTheClassRowForRow) {
    const std::vector<DocRow> rows = ReadDevicesDoc();
    ASSERT_EQ(CMachineCodeConvert::GetModelCount(), rows.size()) << "rows in docs/devices.md vs the class";
    std::set<long> codes;
    for (const DocRow& row : rows) {
        SCOPED_TRACE(std::string("docs/devices.md row ") + row.name);
        EXPECT_EQ(row.hexCode, row.decimalCode) << "hex and decimal columns disagree";
        EXPECT_TRUE(codes.insert(row.decimalCode).second) << "code listed twice";
        const int code = int(row.decimalCode);
        const CMachineCodeConvert::SModel* model = CMachineCodeConvert::FindModel(code);
        ASSERT_NE(nullptr, model) << "documented code missing from the class";
        EXPECT_STREQ(row.name, model->name);
        EXPECT_EQ(row.deviceType, CMachineCodeConvert::GetDeviceType(code));
        EXPECT_EQ(row.maxChannel, CMachineCodeConvert::GetMaxChannel(code));
        EXPECT_EQ(row.receiveType, CMachineCodeConvert::GetMediaReceiveType(code));
    }
    EXPECT_EQ(nullptr, CMachineCodeConvert::GetModelAt(CMachineCodeConvert::GetModelCount()));
}

TEST(CMachineCodeConvertTest, UnknownCodesCannotStream) {
    for (int code : {0, -1, 1, 0x1291, 0x7FFFFFFF, int(0x80000000u), 8774, 8778, 0x10005}) {
        EXPECT_EQ(nullptr, CMachineCodeConvert::FindModel(code)) << code;
        EXPECT_EQ(0, CMachineCodeConvert::GetDeviceType(code) | CMachineCodeConvert::GetMaxChannel(code) |
                         CMachineCodeConvert::GetMediaReceiveType(code))
            << code;
    }
}

// What the rest of the viewer does with these codes fixes part of each row.
TEST(CMachineCodeConvertTest, SpeciallyTreatedCodesFitHowTheViewerUsesThem) {
    const struct {
        int code;
        std::set<int> types;
        int receiveType; // 0 = either
        int channels;    // 0 = any above 1
    } cases[] = {        // Cameras of the parameter family, among them the one whose channel 0 is fixed up.
                 {4752, {1, 5}, 1, 1},
                 {36865, {1, 5}, 1, 1},
                 {5751, {1, 5}, 1, 1},
                 {8448, {1, 5}, 1, 1},
                 // H.264 cannot be polled as JPEG images: these must stream.
                 {5138, {2}, 1, 4},
                 {8775, {2}, 1, 0},
                 {8776, {2}, 1, 4},
                 {0x10004, {2}, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(1u, c.types.count(CMachineCodeConvert::GetDeviceType(c.code)));
        if (c.receiveType != 0) {
            EXPECT_EQ(c.receiveType, CMachineCodeConvert::GetMediaReceiveType(c.code));
        }
        const int channels = CMachineCodeConvert::GetMaxChannel(c.code);
        EXPECT_TRUE(c.channels == 0 ? channels > 1 : channels == c.channels) << channels;
    }
}

TEST(CMachineCodeConvertTest, EveryRowIsConsistent) {
    for (size_t i = 0; i < CMachineCodeConvert::GetModelCount(); ++i) {
        const CMachineCodeConvert::SModel& m = *CMachineCodeConvert::GetModelAt(i);
        SCOPED_TRACE(m.name);
        const bool streams = m.deviceType != 0 && m.deviceType != 4;
        EXPECT_EQ(streams, m.receiveType == 1 || m.receiveType == 2);
        EXPECT_EQ(streams, m.maxChannel >= 1);
        // Channel masks and the stream path composer hold at most this many.
        EXPECT_LE(m.maxChannel, CMachineCodeConvert::kMaxChannelLimit);
        if (m.deviceType == 1 || m.deviceType == 5 || m.deviceType == 100) {
            EXPECT_EQ(1, m.maxChannel) << "cameras have one channel";
        }
        // Video servers are walked channel by channel with one image each.
        if (m.deviceType == 3) {
            EXPECT_EQ(2, m.receiveType);
        }
    }
}

} // namespace
