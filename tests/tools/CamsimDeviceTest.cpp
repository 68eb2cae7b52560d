// camsim as every device model: the model list against docs/devices.md, each
// family's CGIs over loopback (replies checked literally), settings that
// persist, status words and broken bodies on demand, and the recorders'
// picture with its size in the device header, decoded by ffprobe.
//
// What a viewer should conclude from the answers is worked out here from the
// wire formats, independently of camsim's own description, and compared with
// `camsim --describe`: the two sides must agree.
#include "fakes/CamsimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Bound of one answer read by the test client, above camsim's huge body.
constexpr size_t kMaxAnswerBytes = 8 * 1024 * 1024;
constexpr int kIoDeadlineMs = 10000;

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

std::string Camsim(const std::string& args) {
    return Shell(std::string(CAMSIM_PATH) + " " + args);
}

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

struct Answer {
    bool answered = false; // a status line came back
    int status = 0;
    std::string head;
    std::string body;
};

// One request on a fresh connection, the target sent exactly as given (no
// encoding, as the viewer sends it); reads until camsim closes.
Answer Get(uint16_t port, const std::string& target) {
    Answer a;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return a;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return a;
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return a;
    }
    std::string data;
    char buffer[65536];
    while (data.size() < kMaxAnswerBytes) {
        pollfd p{fd, POLLIN, 0};
        int rc = ::poll(&p, 1, kIoDeadlineMs);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t end = data.find("\r\n\r\n");
    if (data.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
        return a;
    a.answered = true;
    a.status = std::atoi(data.c_str() + 9);
    a.head = data.substr(0, end + 4);
    a.body = data.substr(end + 4);
    return a;
}

std::string Body(uint16_t port, const std::string& target) {
    return Get(port, target).body;
}

// A reply line's value: what follows the first "=" of the second piece.
std::string Value(const std::string& body, const std::string& name) {
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t blank = line.find(' ');
        if (blank == std::string::npos || line.substr(0, blank) != "OK")
            continue;
        std::string rest = line.substr(blank + 1);
        size_t eq = rest.find('=');
        if (eq != std::string::npos && rest.substr(0, eq) == name)
            return rest.substr(eq + 1);
    }
    return "";
}

int Number(const std::string& text) {
    return std::atoi(text.c_str());
}

struct DocRow {
    std::string name;
    std::string hexCode;
    unsigned long code = 0;
    int type = 0;
    int channels = 0;
    int receive = 0;
};

std::vector<DocRow> ReadDeviceDoc() {
    std::vector<DocRow> rows;
    // ctest names the source tree; run by hand, the tree this file is in.
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    std::string dir = root ? root : std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/"));
    std::ifstream in(dir + "/docs/devices.md");
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (line.find("devices-table-begin") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (line.find("devices-table-end") != std::string::npos)
            break;
        if (!inTable || line.compare(0, 2, "| ") != 0 || line.compare(0, 6, "| name") == 0)
            continue;
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream cs(line.substr(1));
        while (std::getline(cs, cell, '|')) {
            size_t a = cell.find_first_not_of(' ');
            size_t b = cell.find_last_not_of(' ');
            cells.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
        }
        if (cells.size() < 6)
            continue;
        DocRow r;
        r.name = cells[0];
        r.hexCode = cells[1];
        r.code = std::strtoul(cells[2].c_str(), nullptr, 10);
        r.type = Number(cells[3]);
        r.channels = Number(cells[4]);
        r.receive = Number(cells[5]);
        rows.push_back(r);
    }
    return rows;
}

uint16_t Le16(const std::string& data, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(data[at]) |
                                 (static_cast<unsigned char>(data[at + 1]) << 8));
}

// The device's describe and a running camsim playing it.
struct Device {
    explicit Device(const std::string& name, const std::vector<std::string>& extra = {})
        : describe(NameValues(Camsim("--device " + name + " --describe"))), process(Args(name, extra)) {}
    static std::vector<std::string> Args(const std::string& name, std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--device", name});
        return extra;
    }
    uint16_t Port() const { return process.Port(); }
    std::map<std::string, std::string> describe;
    CamsimProcess process;
};

TEST(CamsimDeviceTest, ListAndDescribeMatchTheDeviceDocument) {
    const std::vector<DocRow> rows = ReadDeviceDoc();
    ASSERT_GE(rows.size(), 20u) << "docs/devices.md table not found";
    std::string expected;
    for (const DocRow& r : rows)
        expected += r.name + "\n";
    EXPECT_EQ(expected, Camsim("--list"));
    for (const DocRow& r : rows) {
        SCOPED_TRACE(r.name);
        auto d = NameValues(Camsim("--device " + r.name + " --describe"));
        EXPECT_EQ(r.name, d["name"]);
        EXPECT_EQ(r.code, std::strtoul(d["machine_code"].c_str(), nullptr, 16));
        EXPECT_EQ(r.hexCode, d["machine_code"]);
        EXPECT_EQ(std::to_string(r.type), d["device_type"]);
        EXPECT_EQ(std::to_string(r.channels), d["max_channel"]);
        EXPECT_EQ(std::to_string(r.receive), d["receive_type"]);
        for (const char* key : {"video_codec", "width", "height", "frame_rate", "audio_supported",
                                "audio_codec", "param.machinecode"})
            EXPECT_EQ(1u, d.count(key)) << key;
    }
}

TEST(CamsimDeviceTest, OptionsOfTheDeviceInHelpAndRefused) {
    const std::string help = Camsim("--help");
    for (const char* word : {"--device NAME", "--list", "--describe", "reply=WORD:KEY", "/camsim/device"})
        EXPECT_NE(std::string::npos, help.find(word)) << word;
    for (const char* bad :
         {"--device nosuch", "--device", "--fault reply=NG", "--fault body=loud", "--fault reply=NG:a=b"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ("2\n", Camsim(std::string(bad) + " >/dev/null 2>&1; echo $?"));
    }
}

// Every model: identified through "/vb.htm?getmachinecode", then set up the
// way its family is, with the conclusion worked out from the replies and
// compared with the model's description.
TEST(CamsimDeviceTest, EveryModelAnswersItsFamilysSetUp) {
    const std::vector<DocRow> rows = ReadDeviceDoc();
    ASSERT_GE(rows.size(), 20u);
    for (const DocRow& row : rows) {
        SCOPED_TRACE(row.name);
        Device dev(row.name);
        ASSERT_TRUE(dev.process.Ok());
        const uint16_t port = dev.Port();
        auto& d = dev.describe;
        EXPECT_EQ(200, Get(port, "/").status);
        const std::string code = Body(port, "/vb.htm?getmachinecode");
        EXPECT_EQ("OK getmachinecode=" + d["machine_code"].substr(2) + "\r\n", code);

        int codec = 0, width = 0, height = 0, rate = 0, audio = 0;
        bool concluded = true;
        if (row.code == 36865) {
            // Takes everything from the host; asks nothing.
            concluded = false;
        } else if (row.type == 1) {
            const std::string a = Body(port, "/vb.htm?supportavc&getformat&getjpegxsize=1&getjpegysize=1&"
                                             "getmpeg4xsize&getmpeg4ysize&getavcxsize&getavcysize");
            const std::string b = Body(port, "/vb.htm?getaudioenable&videomode");
            EXPECT_EQ(8, std::count(a.begin(), a.end(), '\n')) << a;
            EXPECT_EQ(2, std::count(b.begin(), b.end(), '\n')) << b;
            if (Value(a, "supportavc") == "1") {
                codec = 1010;
                width = Number(Value(a, "getavcxsize"));
                height = Number(Value(a, "getavcysize"));
            } else if (Value(a, "getformat") == "0") {
                codec = 1000;
                width = Number(Value(a, "getjpegxsize"));
                height = Number(Value(a, "getjpegysize"));
            } else if (Value(a, "getformat") == "1") {
                codec = 1005;
                width = Number(Value(a, "getmpeg4xsize"));
                height = Number(Value(a, "getmpeg4ysize"));
            }
            rate = Value(b, "videomode") == "0" ? 30000 : 25000;
            audio = Value(b, "getaudioenable") == "1";
        } else if (row.type == 5) {
            const std::string base = "/ipcam/multiprofile.cgi?nowprofileid=1&";
            const std::string valid = Body(port, base + "streamvalid");
            const std::string format = Body(port, base + "getformat");
            ASSERT_GE(valid.size(), 16u);
            EXPECT_EQ(0, valid.compare(0, 2, "OK"));
            EXPECT_EQ('1', valid[15]);
            ASSERT_GE(format.size(), 14u);
            codec = format[13] == '1' ? 1005 : format[13] == '2' ? 1010 : 1000;
            const std::string x = Body(port, base + "getxsize");
            const std::string y = Body(port, base + "getysize");
            width = Number(x.substr(x.find('=') + 1));
            height = Number(y.substr(y.find('=') + 1));
            const std::string b = Body(port, "/vb.htm?videomode&getaudioenable");
            rate = Value(b, "videomode") == "0" ? 30000 : 25000;
            audio = Value(b, "getaudioenable") == "1";
        } else if (row.type == 2 && (row.code == 5138 || (row.code >= 8775 && row.code <= 8777))) {
            const std::string s = Body(port, "/api.htm?getavcxsize=1&getavcysize=1");
            codec = 1010;
            width = Number(Value(s, "getavcxsize"));
            height = Number(Value(s, "getavcysize"));
            if (width < 1)
                width = 720;
            if (height < 1)
                height = 576;
            height = height == 624 ? 576 : height == 504 ? 480 : height;
            rate = 30000;
            audio = 1;
        } else if (row.type == 2) {
            const Answer picture = Get(port, "/api.htm?op.liveimage=1111111111111111");
            EXPECT_EQ(200, picture.status);
            ASSERT_GT(picture.body.size(), 64u);
            codec = 1000;
            width = Le16(picture.body, 36);
            height = Le16(picture.body, 38);
            rate = 30000;
        } else if (row.type == 3) {
            const std::string s = Body(port, "/getstate?value=ntsc");
            ASSERT_FALSE(s.empty());
            codec = 1000;
            width = 352;
            height = s[0] == '1' ? 288 : 240;
            rate = s[0] == '1' ? 25000 : 30000;
        } else if (row.type == 100) {
            codec = 1000, width = 320, height = 240, rate = 30000;
        } else {
            concluded = false;
            EXPECT_EQ("0", d["video_codec"]);
        }
        if (!concluded)
            continue;
        EXPECT_EQ(std::to_string(codec), d["video_codec"]);
        EXPECT_EQ(std::to_string(width), d["width"]);
        EXPECT_EQ(std::to_string(height), d["height"]);
        EXPECT_EQ(std::to_string(rate), d["frame_rate"]);
        EXPECT_EQ(std::to_string(audio), d["audio_supported"]);
        EXPECT_GT(width, 0);
    }
}

// Padded heights reported by the H.264 recorders' size keys, and channels the
// model lacks.
TEST(CamsimDeviceTest, RecorderSizeKeysPerChannel) {
    struct Case {
        const char* device;
        const char* target;
        const char* body;
    } cases[] = {
        {"dvr-h264-5138", "/api.htm?getavcxsize=4&getavcysize=4",
         "OK getavcxsize=720\r\nOK getavcysize=624\r\n"},
        {"dvr-h264-8776", "/api.htm?getavcxsize=2&getavcysize=2",
         "OK getavcxsize=704\r\nOK getavcysize=504\r\n"},
        {"dvr-h264-8776", "/api.htm?getavcxsize=5&getavcysize=0", "NG getavcxsize=\r\nNG getavcysize=\r\n"},
        {"dvr-h264-8775", "/api.htm?getavcplayxsize=8:3&getavcplayysize=8:3",
         "OK getavcplayxsize=704\r\nOK getavcplayysize=480\r\n"},
        {"dvr-h264-8777", "/api.htm?getavcxsize=16&getavcysize=x",
         "OK getavcxsize=352\r\nNG getavcysize=\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target);
        Device dev(c.device);
        ASSERT_TRUE(dev.process.Ok());
        EXPECT_EQ(c.body, Body(dev.Port(), c.target));
    }
}

TEST(CamsimDeviceTest, ProfileCgiAnswersByProfile) {
    Device dev("cam-profile-8192");
    ASSERT_TRUE(dev.process.Ok());
    const uint16_t port = dev.Port();
    struct Case {
        const char* query;
        const char* body;
    } cases[] = {
        {"nowprofileid=0&streamvalid", "OK streamvalid=0\r\n"},
        {"nowprofileid=1&streamvalid", "OK streamvalid=1\r\n"},
        {"nowprofileid=1&getformat", "OK getformat=2\r\n"},
        {"nowprofileid=2&getformat", "OK getformat=1\r\n"},
        {"nowprofileid=3&getformat", "OK getformat=0\r\n"},
        {"nowprofileid=2&getxsize", "OK getxsize=640\r\n"},
        {"nowprofileid=3&getysize", "OK getysize=240\r\n"},
        {"nowprofileid=9&streamvalid", "OK streamvalid=0\r\n"},
        {"nowprofileid=9&getformat", "NG getformat=\r\n"},
        {"nowprofileid=1&getnothing", "NS getnothing=\r\n"},
        {"nowprofileid=3&xsize=400", "OK xsize=400\r\n"},
        {"nowprofileid=3&getxsize", "OK getxsize=400\r\n"},
        {"nowprofileid=3&ysize=tall", "NG ysize=tall\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(c.body, Body(port, std::string("/ipcam/multiprofile.cgi?") + c.query));
    }
    EXPECT_EQ("OK videomode=1\r\nOK getaudioenable=1\r\n", Body(port, "/vb.htm?videomode&getaudioenable"));
    auto d = NameValues(Body(port, "/camsim/device?describe"));
    EXPECT_EQ("2020", d["audio_codec"]);
    EXPECT_EQ("0", d["header_width"]); // this model's header carries no size
    EXPECT_EQ("400", d["param.profile.3.xsize"]);
}

TEST(CamsimDeviceTest, VideoStandardAnswerFollowsTheVideoMode) {
    Device dev("vs-jpeg-12292");
    ASSERT_TRUE(dev.process.Ok());
    const uint16_t port = dev.Port();
    EXPECT_EQ("1\r\n", Body(port, "/getstate?value=ntsc"));
    EXPECT_EQ("OK videomode=0\r\n", Body(port, "/vb.htm?videomode=0"));
    EXPECT_EQ("0\r\n", Body(port, "/getstate?value=ntsc"));
    auto d = NameValues(Body(port, "/camsim/device?describe"));
    EXPECT_EQ("240", d["height"]);
    EXPECT_EQ("30000", d["frame_rate"]);
}

// Editors and the PTZ control write; the next read, on another connection,
// sees the value.
TEST(CamsimDeviceTest, SettingsWrittenPersist) {
    struct Case {
        const char* device;
        const char* write;
        const char* writeReply;
        const char* read;
        const char* readReply;
    } cases[] = {
        {"cam-jpeg-4608", "motionenable=1", "OK motionenable=1\r\n", "getmotionenable",
         "OK getmotionenable=1\r\n"},
        {"cam-jpeg-4608", "motionxy=001002021014", "OK motionxy=001002021014\r\n",
         "getmotionx1&getmotiony1&getmotionx2&getmotiony2",
         "OK getmotionx1=1\r\nOK getmotiony1=2\r\nOK getmotionx2=21\r\nOK getmotiony2=14\r\n"},
        {"cam-jpeg-4608", "motionxy=000000022014", "NG motionxy=000000022014\r\n", "getmotionx2",
         "OK getmotionx2=21\r\n"},
        {"cam-jpeg-4608", "maskarea=102010008020018", "OK maskarea=102010008020018\r\n",
         "paratest=maskarealist.all",
         "OK maskarealist.all=000000000000000;001000000000000;102010008020018;003000000000000;\r\n"},
        {"cam-jpeg-4608", "maskarea=104010008020018", "NG maskarea=104010008020018\r\n",
         "paratest=maxmaskarea", "OK maxmaskarea=4\r\n"},
        {"dvr-jpeg-5124", "motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF",
         "OK motionblock=2:FFFFFFFFFFFFFFFFFFFFFFFF\r\n", "motionblock=2&motionblock=1",
         "OK motionblock=FFFFFFFFFFFFFFFFFFFFFFFF\r\nOK motionblock=000000000000000000000000\r\n"},
        {"dvr-jpeg-5124", "motionblock=5:F", "NG motionblock=5:F\r\n", "paratest=motionxblock",
         "OK motionxblock=12\r\n"},
        {"cam-mpeg4-4752", "motionblock=0A", "OK motionblock=0A\r\n", "motionblock", "OK motionblock=0A\r\n"},
        {"cam-jpeg-4608", "layoutnum=1", "OK layoutnum=1\r\n", "getlayoutnum=2", "OK getlayoutnum=1\r\n"},
        {"cam-jpeg-4608", "videomode=pal", "NG videomode=pal\r\n", "videomode", "OK videomode=0\r\n"},
        {"cam-jpeg-4608", "format=1&audioenable=0", "OK format=1\r\nOK audioenable=0\r\n",
         "getformat&getaudioenable", "OK getformat=1\r\nOK getaudioenable=0\r\n"},
        {"cam-jpeg-4608", "machinecode=1290&supportmotion=2", "UW machinecode=1290\r\nUW supportmotion=2\r\n",
         "getmachinecode&supportmotion", "OK getmachinecode=1200\r\nOK supportmotion=1\r\n"},
        {"cam-jpeg-4608", "nosuchkey=1", "NS nosuchkey=1\r\n", "getnosuchkey", "NS getnosuchkey=\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.write);
        Device dev(c.device);
        ASSERT_TRUE(dev.process.Ok());
        EXPECT_EQ(c.writeReply, Body(dev.Port(), std::string("/vb.htm?") + c.write));
        EXPECT_EQ(c.readReply, Body(dev.Port(), std::string("/vb.htm?") + c.read));
    }
}

TEST(CamsimDeviceTest, WrittenFormatChangesWhatTheDeviceStreams) {
    Device dev("cam-jpeg-4608");
    ASSERT_TRUE(dev.process.Ok());
    EXPECT_EQ("OK format=1\r\nOK mpeg4xsize=320\r\nOK mpeg4ysize=240\r\nOK videomode=1\r\n",
              Body(dev.Port(), "/vb.htm?format=1&mpeg4xsize=320&mpeg4ysize=240&videomode=1"));
    auto d = NameValues(Body(dev.Port(), "/camsim/device?describe"));
    EXPECT_EQ("1005", d["video_codec"]);
    EXPECT_EQ("320", d["width"]);
    EXPECT_EQ("240", d["height"]);
    EXPECT_EQ("25000", d["frame_rate"]);
    // Reset brings the model's values back.
    d = NameValues(Body(dev.Port(), "/camsim/device?reset=params&describe"));
    EXPECT_EQ("1000", d["video_codec"]);
    EXPECT_EQ("30000", d["frame_rate"]);
}

TEST(CamsimDeviceTest, PtzCommandsMoveTheView) {
    Device dev("cam-jpeg-4608");
    ASSERT_TRUE(dev.process.Ok());
    const char* commands[] = {"A000123F3F", "A0000A1F1F", "A000000000",
                              "A0002000FF", "A0002000FF", "A00040FF00"};
    for (const char* c : commands)
        EXPECT_EQ(std::string("OK qk310output=") + c + "\r\n",
                  Body(dev.Port(), std::string("/vb.htm?qk310output=") + c));
    for (const char* bad : {"A000", "B000123F3F", "A000XX3F3F", "A000123F3F0"})
        EXPECT_EQ(std::string("NG qk310output=") + bad + "\r\n",
                  Body(dev.Port(), std::string("/vb.htm?qk310output=") + bad));
    auto d = NameValues(Body(dev.Port(), "/camsim/device?describe"));
    // Right 63 then right 31: pan 94; down 63 then up 31: tilt 32; zoom in twice, out once.
    EXPECT_EQ("94", d["ptz_pan"]);
    EXPECT_EQ("32", d["ptz_tilt"]);
    EXPECT_EQ("1", d["ptz_zoom"]);
    EXPECT_EQ("6", d["ptz_commands"]);
}

// Each status word, and a word the family does not know, on demand for one
// key; the other keys of the request keep their right answers.
TEST(CamsimDeviceTest, StatusWordsCanBeProvoked) {
    Device dev("cam-jpeg-4608");
    ASSERT_TRUE(dev.process.Ok());
    const uint16_t port = dev.Port();
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
    // Every key at once, and the machine code from the command line.
    Get(port, "/camsim/device?reply=UA:*");
    EXPECT_EQ("UA getmachinecode=1200\r\n", Body(port, "/vb.htm?getmachinecode"));
    Device cli("dvr-jpeg-5124", {"--fault", "reply=NG:getmachinecode"});
    ASSERT_TRUE(cli.process.Ok());
    EXPECT_EQ("NG getmachinecode=1404\r\n", Body(cli.Port(), "/vb.htm?getmachinecode"));
    EXPECT_EQ(400, Get(port, "/camsim/device?reply=nocolon").status);
}

TEST(CamsimDeviceTest, BodyFaults) {
    Device dev("cam-jpeg-4608");
    ASSERT_TRUE(dev.process.Ok());
    const uint16_t port = dev.Port();
    const std::string right = "OK getformat=0\r\nOK videomode=0\r\n";
    struct Case {
        const char* mode;
        bool answered;
        const char* body; // null: checked below
    } cases[] = {
        {"none", true, "OK getformat=0\r\nOK videomode=0\r\n"},
        {"empty", true, ""},
        {"bare-lf", true, "OK getformat=0\nOK videomode=0\n"},
        {"no-status", true, "getformat=0\r\nvideomode=0\r\n"},
        {"extra", true, nullptr},
        {"junk", true, nullptr},
        {"huge", true, nullptr},
        {"drop", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(200, Get(port, std::string("/camsim/device?body=") + c.mode).status);
        const Answer a = Get(port, "/vb.htm?getformat&videomode");
        EXPECT_EQ(c.answered, a.answered);
        if (c.body) {
            EXPECT_EQ(c.body, a.body);
        }
        const std::string mode = c.mode;
        if (mode == "extra") {
            EXPECT_EQ(0u, a.body.find(right));
            EXPECT_GT(a.body.size(), right.size());
        }
        if (mode == "junk" || mode == "huge") {
            // No line may read as a reply line of the family.
            std::istringstream in(a.body);
            std::string line;
            size_t lines = 0;
            while (std::getline(in, line)) {
                ++lines;
                for (const char* w : {"OK ", "NG ", "NS ", "UW ", "UA "})
                    ASSERT_NE(0u, line.find(w)) << line;
            }
            EXPECT_GT(lines, 5u);
        }
        if (mode == "huge") {
            EXPECT_EQ(4u * 1024 * 1024, a.body.size());
        }
        if (mode == "drop") {
            EXPECT_TRUE(a.head.empty() && a.body.empty());
        }
    }
    // The control CGI is never touched by the faults, and the faults go away.
    Get(port, "/camsim/device?reset");
    EXPECT_EQ(right, Body(port, "/vb.htm?getformat&videomode"));
}

// The CGI's own bounds: 8 entries and 200 characters per request.
TEST(CamsimDeviceTest, RequestBoundsAndOddQueries) {
    Device dev("cam-jpeg-4608");
    ASSERT_TRUE(dev.process.Ok());
    const uint16_t port = dev.Port();
    std::string nine = "/vb.htm?";
    for (int i = 0; i < 9; ++i)
        nine += (i ? "&" : "") + std::string("videomode");
    const std::string eight = Body(port, nine);
    EXPECT_EQ(8, std::count(eight.begin(), eight.end(), '\n')) << eight;

    // 200 characters exactly are answered, 201 are not.
    std::string fits = "/vb.htm?videomode&";
    fits += std::string(200 - fits.size(), 'x');
    EXPECT_EQ(200u, fits.size());
    EXPECT_EQ("OK videomode=0\r\nNS " + fits.substr(18) + "=\r\n", Body(port, fits));
    const Answer over = Get(port, fits + "y");
    EXPECT_EQ(414, over.status);
    EXPECT_EQ("", over.body);

    struct Case {
        const char* target;
        const char* body;
    } cases[] = {
        {"/vb.htm?", ""},
        {"/vb.htm", ""},
        {"/vb.htm?&&&", ""},
        {"/vb.htm?=", "NS =\r\n"},
        {"/vb.htm?=5&videomode", "NS =5\r\nOK videomode=0\r\n"},
        {"/vb.htm?paratest", "NS paratest=\r\n"},
        {"/vb.htm?paratest=nothing", "NS nothing=\r\n"},
        {"/vb.htm?getjpegxsize=&getjpegysize=1", "OK getjpegxsize=640\r\nOK getjpegysize=480\r\n"},
        {"/vb.htm?motionblock=:FF", "NG motionblock=:FF\r\n"},
        {"/vb.htm?motionblock=1:GG", "NG motionblock=1:GG\r\n"},
        {"/vb.htm?maskarea=1", "NG maskarea=1\r\n"},
        {"/vb.htm?motionxy=abcdefghijkl", "NG motionxy=abcdefghijkl\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const Answer a = Get(port, c.target);
        EXPECT_EQ(200, a.status);
        EXPECT_EQ(c.body, a.body);
    }
    // Still the same device after all that.
    EXPECT_EQ("OK getmachinecode=1200\r\n", Body(port, "/vb.htm?getmachinecode"));
}

// Only a model's own family's CGIs exist.
TEST(CamsimDeviceTest, FamiliesServeOnlyTheirOwnCgis) {
    struct Case {
        const char* device;
        const char* target;
        int status;
    } cases[] = {
        {"cam-jpeg-4608", "/api.htm?getavcxsize=1", 404},
        {"cam-jpeg-4608", "/ipcam/multiprofile.cgi?nowprofileid=1&streamvalid", 404},
        {"cam-profile-5751", "/ipcam/multiprofile.cgi?nowprofileid=1&streamvalid", 200},
        {"dvr-h264-8775", "/api.htm?getavcxsize=1", 200},
        {"vs-jpeg-12292", "/getstate?value=ntsc", 200},
        {"cam-jpeg-4608", "/getstate?value=ntsc", 404},
        {"cam-vendor-61441", "/axis-cgi/admin/getparam.cgi?resolution", 200},
        {"io-box-20481", "/vb.htm?getmachinecode", 200},
        {"enc-noview-16385", "/vb.htm?getformat", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target);
        Device dev(c.device);
        ASSERT_TRUE(dev.process.Ok());
        EXPECT_EQ(c.status, Get(dev.Port(), c.target).status);
    }
    Device vendor("cam-vendor-61441");
    EXPECT_EQ("OK resolution=320x240\r\nNS supportmotion=\r\n",
              Body(vendor.Port(), "/axis-cgi/admin/getparam.cgi?resolution&supportmotion"));
    Device box("enc-noview-16385");
    EXPECT_EQ("NS getformat=\r\n", Body(box.Port(), "/vb.htm?getformat"));
}

// The layout text: Base64 with "+", "=", "/" spelled "^", "@", "$".
TEST(CamsimDeviceTest, LayoutTextDecodes) {
    Device dev("cam-profile-6004");
    ASSERT_TRUE(dev.process.Ok());
    std::string text = Value(Body(dev.Port(), "/vb.htm?getlayouturl=4"), "getlayouturl");
    ASSERT_FALSE(text.empty());
    for (char& c : text)
        c = c == '^' ? '+' : c == '@' ? '=' : c == '$' ? '/' : c;
    EXPECT_EQ(std::string::npos, text.find_first_of(" &#"));
    EXPECT_EQ("camsim \xC3\xA9tage 1", Shell("printf '%s' '" + text + "' | base64 -d"));
}

// The JPEG recorders' picture: device header right after SOI with the size
// at bytes 36 and 38, and an image ffprobe decodes at that size.
TEST(CamsimDeviceTest, RecorderPictureCarriesItsSize) {
    const char* tmp = std::getenv("IPCAM_TEST_TMP");
    const std::string dir = tmp ? tmp : "/tmp";
    Shell("mkdir -p '" + dir + "'");
    for (const char* name : {"dvr-jpeg-5124", "dvr-jpeg-5136", "dvr-jpeg-65540"}) {
        SCOPED_TRACE(name);
        Device dev(name);
        ASSERT_TRUE(dev.process.Ok());
        const Answer a = Get(dev.Port(), "/api.htm?op.liveimage=1111111111111111");
        ASSERT_EQ(200, a.status);
        ASSERT_GT(a.body.size(), 66u);
        EXPECT_EQ(std::string("\xFF\xD8\xFF\xEC", 4), a.body.substr(0, 4));
        EXPECT_EQ("IPCH", a.body.substr(6, 4));
        const uint32_t code = static_cast<unsigned char>(a.body[10]) |
                              static_cast<unsigned char>(a.body[11]) << 8 |
                              static_cast<unsigned char>(a.body[12]) << 16 |
                              static_cast<uint32_t>(static_cast<unsigned char>(a.body[13])) << 24;
        EXPECT_EQ(std::strtoul(dev.describe["machine_code"].c_str(), nullptr, 16), code);
        const int width = Le16(a.body, 36);
        const int height = Le16(a.body, 38);
        EXPECT_EQ(dev.describe["width"], std::to_string(width));
        EXPECT_EQ(dev.describe["height"], std::to_string(height));
        const std::string file = dir + "/camsim-device-" + name + ".jpg";
        {
            std::ofstream out(file, std::ios::binary);
            out << a.body;
        }
        const std::string probed = Shell("ffprobe -v error -select_streams v:0 -show_entries "
                                         "stream=codec_name,width,height -of default=nw=1 '" +
                                         file + "'");
        EXPECT_EQ("codec_name=mjpeg\nwidth=" + std::to_string(width) + "\nheight=" + std::to_string(height) +
                      "\n",
                  probed);
        std::remove(file.c_str());
        // Parameter keys still reach the recorder's parameter CGI.
        EXPECT_EQ("OK getmachinecode=" + dev.describe["machine_code"].substr(2) + "\r\n",
                  Body(dev.Port(), "/api.htm?getmachinecode"));
    }
}

} // namespace
