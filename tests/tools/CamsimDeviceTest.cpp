// camsim as every device model: the model list against docs/devices.md, each
// family's CGIs over loopback with replies checked literally, settings that
// persist, status words and broken bodies on demand, and the recorders'
// picture with its size in the device header, decoded by ffprobe.
#include "CamsimClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

using namespace camsimtest;

std::map<std::string, std::string> NameValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// The rows of the model table in docs/devices.md, cells trimmed.
std::vector<std::vector<std::string>> DeviceDocRows() {
    std::vector<std::vector<std::string>> rows;
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    const std::string file(__FILE__);
    std::ifstream in((root ? std::string(root) : file.substr(0, file.rfind("/tests/"))) + "/docs/devices.md");
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (line.find("devices-table-end") != std::string::npos)
            break;
        if (line.find("devices-table-begin") != std::string::npos)
            inTable = true;
        if (!inTable || line.compare(0, 2, "| ") != 0 || line.compare(0, 6, "| name") == 0)
            continue;
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream cs(line.substr(1));
        while (std::getline(cs, cell, '|')) {
            size_t a = cell.find_first_not_of(' ');
            cells.push_back(a == std::string::npos ? "" : cell.substr(a, cell.find_last_not_of(' ') - a + 1));
        }
        if (cells.size() >= 6)
            rows.push_back(cells);
    }
    return rows;
}

// Columns: name, machine code in hex and decimal, type, channels, receive type.
TEST(CamsimDeviceTest, ListAndDescribeMatchTheDeviceDocument) {
    const auto rows = DeviceDocRows();
    ASSERT_GE(rows.size(), 20u) << "docs/devices.md table not found";
    std::string names;
    for (const auto& r : rows)
        names += r[0] + "\n";
    EXPECT_EQ(names, Camsim("--list"));
    for (const auto& r : rows) {
        SCOPED_TRACE(r[0]);
        auto d = NameValues(Camsim("--device " + r[0] + " --describe"));
        EXPECT_EQ(r[0], d["name"]);
        EXPECT_EQ(r[1], d["machine_code"]);
        EXPECT_EQ(std::strtoul(r[2].c_str(), nullptr, 10),
                  std::strtoul(d["machine_code"].c_str(), nullptr, 16));
        EXPECT_EQ(r[3], d["device_type"]);
        EXPECT_EQ(r[4], d["max_channel"]);
        EXPECT_EQ(r[5], d["receive_type"]);
    }
}

// What each family answers to the keys a viewer sets it up with.
TEST(CamsimDeviceTest, FamiliesAnswerTheirCgisLiterally) {
    std::string nine = "/vb.htm?videomode";
    for (int i = 0; i < 8; ++i)
        nine += "&videomode";
    std::string fits = "/vb.htm?videomode&"; // exactly the CGI's 200 characters
    fits += std::string(200 - fits.size(), 'x');
    const struct {
        const char* device;
        std::string target;
        int status;
        std::string body;
    } cases[] = {
        {"cam-jpeg-4608", "/vb.htm?getmachinecode", 200, "OK getmachinecode=1200\r\n"},
        {"cam-jpeg-4608", "/vb.htm?getjpegxsize=&getjpegysize=1", 200,
         "OK getjpegxsize=640\r\nOK getjpegysize=480\r\n"},
        {"cam-jpeg-4608", "/vb.htm?", 200, ""},
        {"cam-jpeg-4608", "/vb.htm?=5&videomode", 200, "NS =5\r\nOK videomode=0\r\n"},
        {"cam-jpeg-4608", "/vb.htm?paratest=nothing", 200, "NS nothing=\r\n"},
        {"cam-jpeg-4608", nine, 200, std::string(8 * 16, ' ')}, // 8 entries at most, checked below
        {"cam-jpeg-4608", fits, 200, "OK videomode=0\r\nNS " + fits.substr(18) + "=\r\n"},
        {"cam-jpeg-4608", fits + "y", 414, ""},
        {"cam-jpeg-4608", "/api.htm?getavcxsize=1", 404, ""},
        {"cam-jpeg-4608", "/getstate?value=ntsc", 404, ""},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=0&streamvalid", 200,
         "OK streamvalid=0\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=1&getformat", 200, "OK getformat=2\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=2&getxsize", 200, "OK getxsize=640\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=9&getformat", 200, "NG getformat=\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=3&ysize=tall", 200, "NG ysize=tall\r\n"},
        {"cam-profile-8192", "/vb.htm?videomode&getaudioenable", 200,
         "OK videomode=1\r\nOK getaudioenable=1\r\n"},
        {"dvr-h264-5138", "/api.htm?getavcxsize=4&getavcysize=4", 200,
         "OK getavcxsize=720\r\nOK getavcysize=624\r\n"},
        {"dvr-h264-8776", "/api.htm?getavcxsize=2&getavcysize=2", 200,
         "OK getavcxsize=704\r\nOK getavcysize=504\r\n"},
        {"dvr-h264-8776", "/api.htm?getavcxsize=5&getavcysize=0", 200,
         "NG getavcxsize=\r\nNG getavcysize=\r\n"},
        {"dvr-h264-8775", "/api.htm?getavcplayxsize=8:3&getavcplayysize=8:3", 200,
         "OK getavcplayxsize=704\r\nOK getavcplayysize=480\r\n"},
        {"dvr-jpeg-5124", "/api.htm?getmachinecode", 200, "OK getmachinecode=1404\r\n"},
        {"vs-jpeg-12292", "/getstate?value=ntsc", 200, "1\r\n"},
        {"cam-vendor-61441", "/axis-cgi/admin/getparam.cgi?resolution&supportmotion", 200,
         "OK resolution=320x240\r\nNS supportmotion=\r\n"},
        {"enc-noview-16385", "/vb.htm?getformat", 200, "NS getformat=\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target.substr(0, 60));
        const Answer a = Get(DevicePort(c.device), c.target);
        EXPECT_EQ(c.status, a.status);
        if (c.target == nine) {
            EXPECT_EQ(8, std::count(a.body.begin(), a.body.end(), '\n')) << a.body;
        } else if (c.status != 404) {
            EXPECT_EQ(c.body, a.body);
        }
    }
}

// A write, then a read on another connection that sees it (or, refused, not).
TEST(CamsimDeviceTest, SettingsWrittenPersist) {
    const struct {
        const char* device;
        const char* write;
        const char* writeReply;
        const char* read;
        const char* readReply;
    } cases[] = {
        {"cam-jpeg-4608", "/vb.htm?motionxy=001002021014", "OK motionxy=001002021014\r\n",
         "/vb.htm?getmotionx1&getmotiony2", "OK getmotionx1=1\r\nOK getmotiony2=14\r\n"},
        {"cam-jpeg-4608", "/vb.htm?motionxy=000000022014", "NG motionxy=000000022014\r\n",
         "/vb.htm?getmotionx2", "OK getmotionx2=21\r\n"},
        {"cam-jpeg-4608", "/vb.htm?maskarea=102010008020018", "OK maskarea=102010008020018\r\n",
         "/vb.htm?paratest=maskarealist.all",
         "OK maskarealist.all=000000000000000;001000000000000;102010008020018;003000000000000;\r\n"},
        {"cam-jpeg-4608", "/vb.htm?maskarea=104010008020018", "NG maskarea=104010008020018\r\n",
         "/vb.htm?paratest=maxmaskarea", "OK maxmaskarea=4\r\n"},
        {"cam-jpeg-4608", "/vb.htm?videomode=pal", "NG videomode=pal\r\n", "/vb.htm?videomode",
         "OK videomode=0\r\n"},
        {"cam-jpeg-4608", "/vb.htm?machinecode=1290", "UW machinecode=1290\r\n", "/vb.htm?getmachinecode",
         "OK getmachinecode=1200\r\n"},
        {"cam-jpeg-4608", "/vb.htm?qk310output=A000123F3F", "OK qk310output=A000123F3F\r\n",
         "/vb.htm?qk310output=B000123F3F", "NG qk310output=B000123F3F\r\n"},
        {"dvr-jpeg-5124", "/vb.htm?motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF",
         "OK motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF\r\n", "/vb.htm?motionblock=2&motionblock=1",
         "OK motionblock=FFFFFFFFFFFFFFFFFFFFFFFF\r\nOK motionblock=000000000000000000000000\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=3&xsize=400", "OK xsize=400\r\n",
         "/ipcam/multiprofile.cgi?nowprofileid=3&getxsize", "OK getxsize=400\r\n"},
        {"vs-jpeg-12292", "/vb.htm?videomode=0", "OK videomode=0\r\n", "/getstate?value=ntsc", "0\r\n"},
        {"cam-jpeg-4608", "/vb.htm?format=1&mpeg4xsize=320&videomode=1",
         "OK format=1\r\nOK mpeg4xsize=320\r\nOK videomode=1\r\n", "/camsim/device?describe", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.write);
        EXPECT_EQ(c.writeReply, Body(DevicePort(c.device), c.write));
        if (c.readReply) {
            EXPECT_EQ(c.readReply, Body(DevicePort(c.device), c.read));
        }
    }
    // The written format is what the device now streams; reset brings the model back.
    const uint16_t port = DevicePort("cam-jpeg-4608");
    auto d = NameValues(Body(port, "/camsim/device?describe"));
    EXPECT_EQ("1005", d["video_codec"]);
    EXPECT_EQ("320", d["width"]);
    EXPECT_EQ("25000", d["frame_rate"]);
    EXPECT_EQ("1", d["ptz_commands"]);
    d = NameValues(Body(port, "/camsim/device?reset&describe"));
    EXPECT_EQ("1000", d["video_codec"]);
    EXPECT_EQ("30000", d["frame_rate"]);
    for (const char* device : {"dvr-jpeg-5124", "cam-profile-8192", "vs-jpeg-12292"})
        Get(DevicePort(device), "/camsim/device?reset");
}

// Each status word, and one the family does not know, on demand for one key;
// the other keys of the request keep their right answers.
TEST(CamsimDeviceTest, StatusWordsCanBeProvoked) {
    const uint16_t port = DevicePort("cam-jpeg-4608");
    for (const char* word : {"NG", "NS", "UW", "UA", "ok", "XX", "OK"}) {
        SCOPED_TRACE(word);
        ASSERT_EQ(200, Get(port, std::string("/camsim/device?reply=") + word + ":getformat").status);
        EXPECT_EQ(std::string(word) + " getformat=0\r\nOK videomode=0\r\n",
                  Body(port, "/vb.htm?getformat&videomode"));
    }
    // A refused write stores nothing.
    Get(port, "/camsim/device?reply=NG:motionenable");
    EXPECT_EQ("NG motionenable=1\r\n", Body(port, "/vb.htm?motionenable=1"));
    Get(port, "/camsim/device?reset=faults");
    EXPECT_EQ("OK getmotionenable=0\r\n", Body(port, "/vb.htm?getmotionenable"));
    EXPECT_EQ(400, Get(port, "/camsim/device?reply=nocolon").status);
}

TEST(CamsimDeviceTest, BodyFaults) {
    const uint16_t port = DevicePort("cam-jpeg-4608");
    const std::string right = "OK getformat=0\r\nOK videomode=0\r\n";
    const struct {
        const char* mode;
        int status;
        const char* body; // the whole body, or null
        size_t minLines;  // junk lines, none of which may read as a reply line
        size_t size;      // of the body, 0 = any
    } cases[] = {
        {"empty", 200, "", 0, 0},
        {"bare-lf", 200, "OK getformat=0\nOK videomode=0\n", 0, 0},
        {"no-status", 200, "getformat=0\r\nvideomode=0\r\n", 0, 0},
        {"junk", 200, nullptr, 5, 0},
        {"huge", 200, nullptr, 5, 4u * 1024 * 1024},
        {"drop", 0, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(200, Get(port, std::string("/camsim/device?body=") + c.mode).status);
        const Answer a = Get(port, "/vb.htm?getformat&videomode");
        EXPECT_EQ(c.status, a.status);
        if (c.body) {
            EXPECT_EQ(c.body, a.body);
        }
        if (c.size) {
            EXPECT_EQ(c.size, a.body.size());
        }
        std::istringstream in(a.body);
        std::string line;
        size_t lines = 0;
        while (std::getline(in, line) && c.minLines) {
            ++lines;
            for (const char* w : {"OK ", "NG ", "NS ", "UW ", "UA "})
                ASSERT_NE(0u, line.find(w)) << line;
        }
        EXPECT_GE(lines, c.minLines);
    }
    Get(port, "/camsim/device?body=extra");
    EXPECT_EQ(0u, Body(port, "/vb.htm?getformat&videomode").find(right + "OK "));
    Get(port, "/camsim/device?reset");
    EXPECT_EQ(right, Body(port, "/vb.htm?getformat&videomode"));
}

// The layout text: Base64 with "+", "=", "/" spelled "^", "@", "$".
TEST(CamsimDeviceTest, LayoutTextDecodes) {
    std::string text = Body(DevicePort("cam-profile-6004"), "/vb.htm?getlayouturl=4");
    ASSERT_EQ(0u, text.find("OK getlayouturl="));
    text = text.substr(16, text.find('\r') - 16);
    for (char& c : text)
        c = c == '^' ? '+' : c == '@' ? '=' : c == '$' ? '/' : c;
    EXPECT_EQ("camsim \xC3\xA9tage 1", Shell("printf '%s' '" + text + "' | base64 -d"));
}

// The JPEG recorders' picture: device header right after SOI with the
// machine code and the size at bytes 36 and 38, an image ffprobe decodes.
TEST(CamsimDeviceTest, RecorderPictureCarriesItsSize) {
    for (const char* name : {"dvr-jpeg-5124", "dvr-jpeg-5136", "dvr-jpeg-65540"}) {
        SCOPED_TRACE(name);
        auto d = NameValues(Camsim(std::string("--device ") + name + " --describe"));
        const Answer a = Get(DevicePort(name), "/api.htm?op.liveimage=1111111111111111");
        ASSERT_EQ(200, a.status);
        ASSERT_GT(a.body.size(), 66u);
        EXPECT_EQ(std::string("\xFF\xD8\xFF\xEC", 4), a.body.substr(0, 4));
        EXPECT_EQ("IPCH", a.body.substr(6, 4));
        EXPECT_EQ(std::strtoul(d["machine_code"].c_str(), nullptr, 16), Le32(a.body, 10));
        const std::string width = std::to_string(Le16(a.body, 36));
        const std::string height = std::to_string(Le16(a.body, 38));
        EXPECT_EQ(d["width"] + "x" + d["height"], width + "x" + height);
        const std::string file = WriteFile(std::string(name) + ".jpg", a.body);
        EXPECT_EQ("codec_name=mjpeg\nwidth=" + width + "\nheight=" + height + "\n",
                  Shell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
                        "-of default=nw=1 '" +
                        file + "'"));
    }
}

} // namespace
