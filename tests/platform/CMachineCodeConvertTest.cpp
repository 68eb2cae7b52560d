#include "platform/CMachineCodeConvert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using media_util::CMachineCodeConvert;

namespace {

struct DocRow {
    std::string name;
    long hexCode;
    long decimalCode;
    int deviceType;
    int maxChannel;
    int receiveType;
    int line;
};

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Strict number: the whole cell must be the number.
bool ParseNumber(const std::string& cell, int base, long& out) {
    if (cell.empty())
        return false;
    char* end = nullptr;
    out = std::strtol(cell.c_str(), &end, base);
    return end != nullptr && *end == '\0';
}

// Reads the rows between the table markers of docs/devices.md.
std::vector<DocRow> ReadDevicesDoc(std::string& error) {
    // ctest sets IPCAM_SOURCE_DIR; run by hand, the source tree is found from
    // this file's own path.
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    std::string base = root ? root : "";
    if (base.empty()) {
        base = __FILE__;
        base = base.substr(0, base.rfind("/tests/"));
    }
    const std::string path = base + "/docs/devices.md";
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return {};
    }
    std::vector<DocRow> rows;
    std::string line;
    bool inTable = false;
    int lineNumber = 0;
    int headerLines = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.find("devices-table-begin") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (line.find("devices-table-end") != std::string::npos)
            break;
        if (!inTable || line.empty())
            continue;
        if (headerLines < 2) { // the column names and the |---| line
            ++headerLines;
            continue;
        }
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '|'))
            cells.push_back(Trim(cell));
        // "| a | b |" splits into "", a, b.
        if (cells.size() < 8 || !cells[0].empty()) {
            error = "line " + std::to_string(lineNumber) + " is not a table row: " + line;
            return {};
        }
        DocRow row{cells[1], 0, 0, 0, 0, 0, lineNumber};
        long type = 0, channels = 0, receive = 0;
        if (cells[2].rfind("0x", 0) != 0 || !ParseNumber(cells[2].substr(2), 16, row.hexCode) ||
            !ParseNumber(cells[3], 10, row.decimalCode) || !ParseNumber(cells[4], 10, type) ||
            !ParseNumber(cells[5], 10, channels) || !ParseNumber(cells[6], 10, receive) || cells[7].empty()) {
            error = "line " + std::to_string(lineNumber) + " has a malformed cell: " + line;
            return {};
        }
        row.deviceType = static_cast<int>(type);
        row.maxChannel = static_cast<int>(channels);
        row.receiveType = static_cast<int>(receive);
        rows.push_back(row);
    }
    if (!inTable)
        error = "no table markers in " + path;
    return rows;
}

TEST(CMachineCodeConvertTest, DocumentedTableMatchesTheClassRowForRow) {
    std::string error;
    const std::vector<DocRow> rows = ReadDevicesDoc(error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_EQ(CMachineCodeConvert::GetModelCount(), rows.size()) << "rows in docs/devices.md vs the class";
    std::set<long> codes;
    std::set<std::string> names;
    for (const DocRow& row : rows) {
        SCOPED_TRACE("docs/devices.md line " + std::to_string(row.line) + " " + row.name);
        EXPECT_EQ(row.hexCode, row.decimalCode) << "hex and decimal columns disagree";
        EXPECT_TRUE(codes.insert(row.decimalCode).second) << "code listed twice";
        EXPECT_TRUE(names.insert(row.name).second) << "name listed twice";
        const int code = static_cast<int>(row.decimalCode);
        const CMachineCodeConvert::SModel* model = CMachineCodeConvert::FindModel(code);
        ASSERT_NE(nullptr, model) << "documented code missing from the class";
        EXPECT_EQ(row.name, model->name);
        EXPECT_EQ(row.deviceType, CMachineCodeConvert::GetDeviceType(code));
        EXPECT_EQ(row.maxChannel, CMachineCodeConvert::GetMaxChannel(code));
        EXPECT_EQ(row.receiveType, CMachineCodeConvert::GetMediaReceiveType(code));
    }
    // And the other way round: every class row is documented.
    for (size_t i = 0; i < CMachineCodeConvert::GetModelCount(); ++i) {
        const CMachineCodeConvert::SModel* model = CMachineCodeConvert::GetModelAt(i);
        ASSERT_NE(nullptr, model);
        EXPECT_TRUE(codes.count(model->machineCode)) << model->name << " is not in docs/devices.md";
    }
    EXPECT_EQ(nullptr, CMachineCodeConvert::GetModelAt(CMachineCodeConvert::GetModelCount()));
}

TEST(CMachineCodeConvertTest, UnknownCodesCannotStream) {
    for (int code :
         {0, -1, 1, 0x1291, 0x7FFFFFFF, static_cast<int>(0x80000000u), 4751, 8774, 8778, 0x10005}) {
        EXPECT_EQ(nullptr, CMachineCodeConvert::FindModel(code)) << code;
        EXPECT_EQ(0, CMachineCodeConvert::GetDeviceType(code)) << code;
        EXPECT_EQ(0, CMachineCodeConvert::GetMaxChannel(code)) << code;
        EXPECT_EQ(0, CMachineCodeConvert::GetMediaReceiveType(code)) << code;
    }
}

// What the rest of the viewer does with these codes fixes part of each row.
TEST(CMachineCodeConvertTest, SpeciallyTreatedCodesFitHowTheViewerUsesThem) {
    const struct {
        int code;
        std::set<int> types;
        int receiveType; // 0 = either
        const char* why;
    } cases[] = {
        {4752, {1, 5}, 1, "default-family camera with channel 0 fixed up"},
        {36865, {1, 5}, 1, "fixed set-up camera of the profile-query dialect"},
        {5751, {1, 5}, 1, "profile camera"},
        {5753, {1, 5}, 1, "profile camera"},
        {5761, {1, 5}, 1, "profile camera"},
        {5763, {1, 5}, 1, "profile camera"},
        {6002, {1, 5}, 1, "profile camera"},
        {6003, {1, 5}, 1, "profile camera"},
        {6004, {1, 5}, 1, "profile camera"},
        {8192, {1, 5}, 1, "profile camera"},
        {8193, {1, 5}, 1, "profile camera"},
        {8448, {1, 5}, 1, "profile camera"},
        // H.264 cannot be polled as JPEG images: these must stream.
        {5138, {2}, 1, "two-stream H.264 recorder"},
        {8775, {2}, 1, "H.264 recorder"},
        {8776, {2}, 1, "H.264 recorder"},
        {8777, {2}, 1, "H.264 recorder"},
        {0x10004, {2}, 0, "dual-picture recorder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const int type = CMachineCodeConvert::GetDeviceType(c.code);
        EXPECT_TRUE(c.types.count(type)) << c.code << " has type " << type;
        if (c.receiveType != 0) {
            EXPECT_EQ(c.receiveType, CMachineCodeConvert::GetMediaReceiveType(c.code)) << c.code;
        }
    }
    // The dual-picture recorder with four channels in two streams; the
    // 4-channel H.264 recorder whose playback text has four characters.
    EXPECT_EQ(4, CMachineCodeConvert::GetMaxChannel(5138));
    EXPECT_EQ(4, CMachineCodeConvert::GetMaxChannel(8776));
    EXPECT_GE(CMachineCodeConvert::GetMaxChannel(0x10004), 2);
}

TEST(CMachineCodeConvertTest, EveryRowIsConsistent) {
    std::map<int, int> typeCount;
    std::map<int, int> receiveCount;
    for (size_t i = 0; i < CMachineCodeConvert::GetModelCount(); ++i) {
        const CMachineCodeConvert::SModel& m = *CMachineCodeConvert::GetModelAt(i);
        SCOPED_TRACE(m.name);
        ++typeCount[m.deviceType];
        ++receiveCount[m.receiveType];
        const bool streams = m.deviceType == 1 || m.deviceType == 2 || m.deviceType == 3 ||
                             m.deviceType == 5 || m.deviceType == 100;
        EXPECT_TRUE(streams || m.deviceType == 0 || m.deviceType == 4) << m.deviceType;
        if (streams) {
            EXPECT_TRUE(m.receiveType == 1 || m.receiveType == 2);
            EXPECT_GE(m.maxChannel, 1);
        } else {
            EXPECT_EQ(0, m.receiveType);
            EXPECT_EQ(0, m.maxChannel);
        }
        // Channel masks and the stream path composer hold fewer than 20.
        EXPECT_LE(m.maxChannel, CMachineCodeConvert::kMaxChannelLimit);
        EXPECT_LT(m.maxChannel, 20);
        if (m.deviceType == 1 || m.deviceType == 5 || m.deviceType == 100) {
            EXPECT_EQ(1, m.maxChannel) << "cameras have one channel";
        }
        // Video servers are walked channel by channel with one image each.
        if (m.deviceType == 3) {
            EXPECT_EQ(2, m.receiveType);
            EXPECT_GT(m.maxChannel, 1);
        }
        if (m.deviceType == 2) {
            EXPECT_GT(m.maxChannel, 1);
        }
        // The device name carries the decimal code, so a log line names both.
        EXPECT_NE(std::string::npos, std::string(m.name).find(std::to_string(m.machineCode)));
        if (i > 0) {
            EXPECT_LT(CMachineCodeConvert::GetModelAt(i - 1)->machineCode, m.machineCode) << "table order";
        }
    }
    for (int type : {0, 1, 2, 3, 4, 5, 100})
        EXPECT_GE(typeCount[type], 1) << "no model of device type " << type;
    EXPECT_GE(receiveCount[1], 1);
    EXPECT_GE(receiveCount[2], 1);
}

} // namespace
