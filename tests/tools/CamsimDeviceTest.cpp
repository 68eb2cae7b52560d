// camsim as every device model: the model list against docs/devices.md, each
// family's CGIs over loopback with replies checked literally, settings that
// persist, and status words and broken bodies on demand.
#include "CamsimClient.h"
#include "api/DeviceTable.h"

#include <gtest/gtest.h>

namespace {

using namespace camsimtest;

// Columns: name, machine code in hex and decimal, type, channels, receive type.
TEST(CamsimDeviceTest, ListAndDescribeMatchTheDeviceDocument) {
    const auto rows = DeviceTableRows();
    ASSERT_GE(rows.size(), 20u) << "docs/devices.md table not found";
    std::string names;
    for (const auto& r : rows)
        names += r[0] + "\n";
    EXPECT_EQ(names, Camsim("--list"));
    for (const auto& r : rows) {
        SCOPED_TRACE(r[0]);
        Values d = Describe(r[0]);
        EXPECT_EQ(r[0] + " " + r[1] + " " + r[3] + " " + r[4] + " " + r[5],
                  d["name"] + " " + d["machine_code"] + " " + d["device_type"] + " " + d["max_channel"] +
                      " " + d["receive_type"]);
        EXPECT_EQ(std::stoul(r[2]), std::stoul(d["machine_code"], nullptr, 16));
    }
}

// The sizes docs/devices.md gives each model are the ones camsim describes:
// the picture, one channel's part of it, and the fixed camera's "cif" size.
TEST(CamsimDeviceTest, SizesMatchTheDeviceDocument) {
    const auto rows = DocumentTable("devices.md", "sizes-table");
    std::string names;
    for (const auto& r : rows)
        names += r.at(0) + "\n";
    EXPECT_EQ(Camsim("--list"), names) << "one row per model, in the order of the list";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.at(0));
        ASSERT_GE(r.size(), 3u);
        Values d = Describe(r[0]);
        const std::string cif = d.count("cif_width") ? "; cif " + d["cif_width"] + "x" + d["cif_height"] : "";
        EXPECT_EQ(r[1], d["width"] + "x" + d["height"] + cif);
        EXPECT_EQ(r[2], d["channel_width"] + "x" + d["channel_height"] + cif);
    }
}

// docs/devices.md's motion table is what each model answers to
// "supportmotion", and a model has the keys of its kind only.
TEST(CamsimDeviceTest, MotionSupportMatchesTheDeviceDocument) {
    const auto rows = DocumentTable("devices.md", "motion-table");
    std::string names;
    for (const auto& r : rows)
        names += r.at(0) + "\n";
    EXPECT_EQ(Camsim("--list"), names) << "one row per model, in the order of the list";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.at(0));
        ASSERT_EQ(3u, r.size());
        Values d = Describe(r[0]);
        EXPECT_EQ(r[1], d["param.supportmotion"]);
        const std::string editor = r[1] == "1" ? "motion area" : r[1] == "2" ? "block grid" : "none";
        EXPECT_EQ(editor, r[2]);
        EXPECT_EQ(r[1] == "1", d.count("param.motionxlimit") == 1);
        EXPECT_EQ(r[1] == "2", d.count("param.motionxblock") == 1);
    }
}

// One request and its answer: the body of a 200, otherwise the status
// number; "-" leaves it unchecked (a switch of the test-control CGI).
struct Say {
    const char* device;
    std::string target;
    std::string answer;
};

// Plays the rows in order, so a write is followed by the read that sees it.
void Converse(const std::vector<Say>& rows) {
    for (const Say& r : rows) {
        SCOPED_TRACE(std::string(r.device) + " " + r.target.substr(0, 60));
        const Answer a = Get(DevicePort(r.device), r.target);
        if (r.answer != "-") {
            EXPECT_EQ(r.answer, a.status == 200 ? a.body : std::to_string(a.status));
        }
    }
}

std::string Times(int n, const std::string& text) {
    std::string all;
    while (n-- > 0)
        all += text;
    return all;
}

// What each family answers to the keys a viewer sets it up with.
TEST(CamsimDeviceTest, FamiliesAnswerTheirCgisLiterally) {
    const std::string fits = "/vb.htm?videomode&" + std::string(182, 'x'); // the CGI's 200 characters
    Converse({
        {"cam-jpeg-4608", "/vb.htm?getmachinecode", "OK getmachinecode=1200\r\n"},
        {"cam-jpeg-4608", "/vb.htm?getjpegxsize=&getjpegysize=1",
         "OK getjpegxsize=640\r\nOK getjpegysize=480\r\n"},
        {"cam-jpeg-4608", "/vb.htm?=5&paratest=nothing", "NS =5\r\nNS nothing=\r\n"},
        {"cam-jpeg-4608", "/vb.htm?" + Times(9, "videomode&"), Times(8, "OK videomode=0\r\n")},
        {"cam-jpeg-4608", fits, "OK videomode=0\r\nNS " + fits.substr(18) + "=\r\n"},
        {"cam-jpeg-4608", fits + "y", "414"},
        {"cam-jpeg-4608", "/api.htm?getavcxsize=1", "404"},
        {"cam-jpeg-4608", "/getstate?value=ntsc", "404"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=0&streamvalid", "OK streamvalid=0\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=1&getformat", "OK getformat=2\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=9&getformat", "NG getformat=\r\n"},
        {"cam-profile-8192", "/vb.htm?videomode&getaudioenable", "OK videomode=1\r\nOK getaudioenable=1\r\n"},
        {"dvr-h264-5138", "/api.htm?getavcxsize=4&getavcysize=4",
         "OK getavcxsize=720\r\nOK getavcysize=1162\r\n"},
        {"dvr-h264-8776", "/api.htm?getavcxsize=2&getavcysize=2",
         "OK getavcxsize=704\r\nOK getavcysize=504\r\n"},
        {"dvr-h264-8776", "/api.htm?getavcxsize=5&getavcysize=0", "NG getavcxsize=\r\nNG getavcysize=\r\n"},
        {"dvr-h264-8775", "/api.htm?getavcplayxsize=8:3&getavcplayysize=8:3",
         "OK getavcplayxsize=704\r\nOK getavcplayysize=480\r\n"},
        {"dvr-jpeg-5124", "/api.htm?getmachinecode", "OK getmachinecode=1404\r\n"},
        {"vs-jpeg-12292", "/getstate?value=ntsc", "1\r\n"},
        {"cam-vendor-61441", "/axis-cgi/admin/getparam.cgi?resolution&supportmotion",
         "OK resolution=320x240\r\nNS supportmotion=\r\n"},
        {"enc-noview-16385", "/vb.htm?getformat", "NS getformat=\r\n"},
    });
}

// A write, then a read on another connection that sees it (or, refused, not).
TEST(CamsimDeviceTest, SettingsWrittenPersist) {
    Converse({
        {"cam-jpeg-4608", "/vb.htm?motionxy=001002021014", "OK motionxy=001002021014\r\n"},
        {"cam-jpeg-4608", "/vb.htm?motionxy=000000022014", "NG motionxy=000000022014\r\n"},
        {"cam-jpeg-4608", "/vb.htm?getmotionx1&getmotionx2", "OK getmotionx1=1\r\nOK getmotionx2=21\r\n"},
        {"cam-jpeg-4608", "/vb.htm?maskarea=102010008020018", "OK maskarea=102010008020018\r\n"},
        {"cam-jpeg-4608", "/vb.htm?paratest=maskarealist.all",
         "OK maskarealist.all=000000000000000;001000000000000;102010008020018;003000000000000;\r\n"},
        {"cam-jpeg-4608", "/vb.htm?machinecode=1290&getmachinecode",
         "UW machinecode=1290\r\nOK getmachinecode=1200\r\n"},
        {"cam-jpeg-4608", "/vb.htm?qk310output=A000123F3F", "OK qk310output=A000123F3F\r\n"},
        {"cam-jpeg-4608", "/vb.htm?qk310output=B000123F3F", "NG qk310output=B000123F3F\r\n"},
        {"cam-jpeg-4608", "/vb.htm?format=1&mpeg4xsize=320&videomode=1",
         "OK format=1\r\nOK mpeg4xsize=320\r\nOK videomode=1\r\n"},
        {"dvr-jpeg-5124", "/vb.htm?motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF",
         "OK motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF\r\n"},
        {"dvr-jpeg-5124", "/vb.htm?motionblock=2&motionblock=1",
         "OK motionblock=FFFFFFFFFFFFFFFFFFFFFFFF\r\nOK motionblock=000000000000000000000000\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=3&xsize=400", "OK xsize=400\r\n"},
        {"cam-profile-8192", "/ipcam/multiprofile.cgi?nowprofileid=3&getxsize", "OK getxsize=400\r\n"},
        {"vs-jpeg-12292", "/vb.htm?videomode=0", "OK videomode=0\r\n"},
        {"vs-jpeg-12292", "/getstate?value=ntsc", "0\r\n"},
    });
    // The written format is what the device now streams; reset brings the model back.
    const uint16_t port = DevicePort("cam-jpeg-4608");
    auto d = NameValues(Body(port, "/camsim/device?describe"));
    EXPECT_EQ("1005 320 25000 1",
              d["video_codec"] + " " + d["width"] + " " + d["frame_rate"] + " " + d["ptz_commands"]);
    d = NameValues(Body(port, "/camsim/device?reset&describe"));
    EXPECT_EQ("1000 30000", d["video_codec"] + " " + d["frame_rate"]);
    for (const char* device : {"dvr-jpeg-5124", "cam-profile-8192", "vs-jpeg-12292"})
        Get(DevicePort(device), "/camsim/device?reset");
}

// Status words, one the family does not know, and broken bodies on demand;
// the other keys of a request keep their right answers.
TEST(CamsimDeviceTest, StatusWordsAndBrokenBodiesCanBeProvoked) {
    const char* cam = "cam-jpeg-4608";
    const std::string read = "/vb.htm?getformat&videomode";
    Converse({
        {cam, "/camsim/device?reply=UA:getformat", "-"},
        {cam, read, "UA getformat=0\r\nOK videomode=0\r\n"},
        {cam, "/camsim/device?reply=XX:getformat", "-"},
        {cam, read, "XX getformat=0\r\nOK videomode=0\r\n"},
        {cam, "/camsim/device?reply=NG:motionenable", "-"},
        {cam, "/vb.htm?motionenable=1", "NG motionenable=1\r\n"},
        {cam, "/camsim/device?reset=faults", "-"},
        {cam, "/vb.htm?getmotionenable", "OK getmotionenable=0\r\n"}, // the refused write stored nothing
        {cam, "/camsim/device?reply=nocolon", "400"},
        {cam, "/camsim/device?body=empty", "-"},
        {cam, read, ""},
        {cam, "/camsim/device?body=bare-lf", "-"},
        {cam, read, "OK getformat=0\nOK videomode=0\n"},
        {cam, "/camsim/device?body=no-status", "-"},
        {cam, read, "getformat=0\r\nvideomode=0\r\n"},
        {cam, "/camsim/device?body=drop", "-"},
        {cam, read, "0"},
    });
    const uint16_t port = DevicePort(cam);
    for (const char* mode : {"junk", "huge"}) {
        SCOPED_TRACE(mode);
        Get(port, std::string("/camsim/device?body=") + mode);
        const std::string body = Body(port, read);
        EXPECT_EQ(std::string(mode) == "huge", body.size() == 4u * 1024 * 1024);
        std::istringstream in(body);
        std::string line;
        size_t lines = 0;
        for (; std::getline(in, line); ++lines)
            for (const char* w : {"OK ", "NG ", "NS ", "UW ", "UA "})
                ASSERT_NE(0u, line.find(w)) << "junk that reads as a reply line: " << line;
        EXPECT_GT(lines, 5u);
    }
    Get(port, "/camsim/device?reset");
    EXPECT_EQ("OK getformat=0\r\nOK videomode=0\r\n", Body(port, read));
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

} // namespace
