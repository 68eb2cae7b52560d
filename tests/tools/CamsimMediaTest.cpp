// camsim's live media, checked as a viewer and as tools nobody here wrote see
// them: the multipart framing and every part header read from a loopback
// socket, the JPEG device header byte by byte, the MPEG-4 and H.264 elementary
// streams decoded by ffprobe, the stream split by GStreamer's multipartdemux
// and FFmpeg's mpjpeg demuxer into the same parts, the polling endpoints, and
// the effect of each media fault switch.
#include "fakes/CamsimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// How long any one read of the tests may wait for camsim.
constexpr int kDeadlineMs = 15000;

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

// Files handed to the tools live in one folder per test run, removed when
// the run ends.
std::string TempDir() {
    struct Folder {
        std::string path;
        Folder() {
            const char* base = std::getenv("IPCAM_TEST_TMP");
            path = std::string(base ? base : "/tmp") + "/camsim-media-" + std::to_string(::getpid());
            Shell("mkdir -p '" + path + "'");
        }
        ~Folder() { Shell("rm -rf '" + path + "'"); }
    };
    static Folder folder;
    return folder.path;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

int Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint32_t Le16(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}

uint32_t Le32(const std::string& s, size_t at) {
    return Le16(s, at) | Le16(s, at + 2) << 16;
}

uint32_t Be32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

struct Part {
    std::map<std::string, std::string> headers;
    std::string data;
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    bool IsAudio() const { return headers.count("X-Codec") > 0; }
    bool IsWait() const { return Header("X-Wait") == "1"; }
};

// A viewer's side of one stream: the request, the response head, then parts
// found by their boundary lines, written from the multipart format alone.
class StreamClient {
public:
    StreamClient(uint16_t port, const std::string& target) : mFd(Connect(port)) {
        if (mFd < 0)
            return;
        std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(mFd, request.data(), request.size(), MSG_NOSIGNAL);
        size_t end;
        while ((end = mBuffer.find("\r\n\r\n")) == std::string::npos)
            if (!Fill())
                return;
        mHead = mBuffer.substr(0, end + 4);
        mBuffer.erase(0, end + 4);
        mRaw = mBuffer;
    }
    ~StreamClient() {
        if (mFd >= 0)
            ::close(mFd);
    }
    const std::string& Head() const { return mHead; }
    // Everything after the head, as received so far.
    const std::string& Raw() const { return mRaw; }
    bool Closed() const { return mClosed; }

    // Reads until `count` parts (waiting parts and audio included) or the
    // end of the stream.
    std::vector<Part> Read(size_t count) {
        std::vector<Part> parts;
        while (parts.size() < count) {
            Part part;
            if (!Next(&part))
                break;
            parts.push_back(std::move(part));
        }
        return parts;
    }
    // Video parts only.
    std::vector<Part> ReadVideo(size_t count) {
        std::vector<Part> parts;
        while (parts.size() < count) {
            Part part;
            if (!Next(&part))
                break;
            if (!part.IsAudio() && !part.IsWait())
                parts.push_back(std::move(part));
        }
        return parts;
    }
    // Bytes that arrived without being asked for (a non-blocking look).
    size_t Pending() {
        char buffer[4096];
        ssize_t n = ::recv(mFd, buffer, sizeof(buffer), MSG_DONTWAIT | MSG_PEEK);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    // Offset in Raw() just behind the last part read.
    size_t Consumed() const { return mRaw.size() - mBuffer.size(); }

private:
    bool Fill() {
        if (mFd < 0 || mClosed)
            return false;
        pollfd p{mFd, POLLIN, 0};
        if (::poll(&p, 1, kDeadlineMs) <= 0) {
            mClosed = true;
            return false;
        }
        char buffer[65536];
        ssize_t n = ::recv(mFd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            mClosed = true;
            return false;
        }
        mBuffer.append(buffer, static_cast<size_t>(n));
        if (!mHead.empty())
            mRaw.append(buffer, static_cast<size_t>(n));
        return true;
    }
    bool Line(std::string* line) {
        size_t end;
        while ((end = mBuffer.find("\r\n")) == std::string::npos)
            if (!Fill())
                return false;
        *line = mBuffer.substr(0, end);
        mBuffer.erase(0, end + 2);
        return true;
    }
    bool Next(Part* part) {
        std::string line;
        do {
            if (!Line(&line))
                return false;
        } while (line != "--myboundary");
        while (Line(&line) && !line.empty()) {
            size_t colon = line.find(':');
            if (colon == std::string::npos)
                return false;
            size_t value = line.find_first_not_of(' ', colon + 1);
            part->headers[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
        }
        if (!line.empty())
            return false;
        const size_t length = std::strtoul(part->Header("Content-Length").c_str(), nullptr, 10);
        if (part->IsWait())
            return true; // its bytes, if any, are not the part's
        while (mBuffer.size() < length)
            if (!Fill())
                return false;
        part->data = mBuffer.substr(0, length);
        mBuffer.erase(0, length);
        return true;
    }

    int mFd;
    std::string mHead;
    std::string mBuffer;
    std::string mRaw;
    bool mClosed = false;
};

// A whole answer to a single request (pictures, refusals).
struct Answer {
    int status = 0;
    std::string head;
    std::string body;
};

Answer Get(uint16_t port, const std::string& target) {
    Answer a;
    int fd = Connect(port);
    if (fd < 0)
        return a;
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kDeadlineMs) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        all.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t end = all.find("\r\n\r\n");
    if (end == std::string::npos || all.size() < 12)
        return a;
    a.status = std::atoi(all.c_str() + 9);
    a.head = all.substr(0, end + 4);
    a.body = all.substr(end + 4);
    return a;
}

// "W*H" of a part.
std::pair<int, int> Resolution(const Part& part) {
    std::string r = part.Header("X-Resolution");
    size_t star = r.find('*');
    if (star == std::string::npos)
        return {0, 0};
    return {std::atoi(r.substr(0, star).c_str()), std::atoi(r.substr(star + 1).c_str())};
}

// What ffprobe sees in a file: "codec,width,height,frames".
std::string Probe(const std::string& path, const std::string& format) {
    std::string out = Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 -f " +
                            format + " '" + path + "' 2>&1");
    while (!out.empty() && (out.back() == '\n' || out.back() == ','))
        out.pop_back();
    return out;
}

// NAL unit types of an Annex-B payload.
std::vector<int> NalTypes(const std::string& data) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            types.push_back(data[i + 3] & 0x1F);
            i += 2;
        }
    return types;
}

struct Box {
    uint32_t flags;
    std::string payload;
};

// The QBox boxes of a part; an empty list when the framing is broken.
std::vector<Box> Boxes(const std::string& data) {
    std::vector<Box> boxes;
    size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < 24)
            return {};
        const uint32_t size = Be32(data, at);
        if (size < 24 || size > data.size() - at || data.compare(at + 4, 4, "qbox") != 0 ||
            Be32(data, at + 8) != 0 || (Be32(data, at + 12) >> 16) != 2)
            return {};
        boxes.push_back({Be32(data, at + 16), data.substr(at + 24, size - 24)});
        at += size;
    }
    return boxes;
}

// ---------------------------------------------------------------------------

TEST(CamsimMediaTest, VideoPartsCarryTheDeviceHeaders) {
    struct Case {
        const char* device;
        const char* target;
        const char* type;
        int width, height;
        const char* xch; // expected X-CH, "" = none
    };
    const Case cases[] = {
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&ch=1", "image/jpeg", 640, 480, ""},
        {"cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1&ch=1", "image/mpeg4", 640, 480, ""},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=2", "image/mpeg4", 640, 480, ""},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=3", "image/jpeg", 320, 240, ""},
        {"cam-fixed-36865", "/ipcam/avccif.cgi?language=1", "image/avc", 352, 288, ""},
        {"cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=160x120", "image/jpeg", 160, 120, ""},
        {"dvr-h264-8776", "/avc.cgi?op.liveimage=10", "image/avc", 704, 480, "2"},
        {"dvr-h264-5138", "/avc.cgi?op.liveimage=1100", "image/avc", 720, 2 * 576 + 10, "B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target);
        CamsimProcess camsim({"--device", c.device});
        ASSERT_TRUE(camsim.Ok());
        StreamClient stream(camsim.Port(), c.target);
        EXPECT_EQ(0u, stream.Head().find("HTTP/1.1 200 OK\r\n"));
        EXPECT_NE(std::string::npos, stream.Head().find("multipart/x-mixed-replace;boundary=myboundary"));
        std::vector<Part> parts = stream.ReadVideo(6);
        ASSERT_EQ(6u, parts.size());
        uint32_t lastTag = 0;
        for (const Part& p : parts) {
            EXPECT_EQ(c.type, p.Header("Content-Type"));
            EXPECT_EQ(std::to_string(p.data.size()), p.Header("Content-Length"));
            EXPECT_EQ(std::make_pair(c.width, c.height), Resolution(p));
            EXPECT_GT(std::atoi(p.Header("X-Framerate").c_str()), 0);
            EXPECT_EQ("0", p.Header("X-Alarm"));
            EXPECT_EQ("0", p.Header("X-Covert"));
            EXPECT_GT(std::atoi(p.Header("X-Bitrate").c_str()), 0);
            EXPECT_EQ(23u, p.Header("X-Time").size()) << p.Header("X-Time");
            EXPECT_EQ(c.xch, p.Header("X-CH"));
            EXPECT_EQ(0u, p.headers.count("X-Wait"));
            const uint32_t tag = static_cast<uint32_t>(std::atol(p.Header("X-Tag").c_str()));
            if (lastTag != 0) {
                EXPECT_EQ(lastTag + 1, tag);
            }
            lastTag = tag;
        }
    }
}

TEST(CamsimMediaTest, JpegPartsCarryTheDeviceHeader) {
    struct Case {
        const char* device;
        const char* target;
        uint32_t machineCode;
        bool header;
        bool size; // the header carries the picture size
    };
    const Case cases[] = {
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&ch=1", 0x1200, true, true},
        {"cam-profile-8192", "/ipcam/stream.cgi?nowprofileid=3", 8192, true, false},
        {"cam-fixed-36865", "/ipcam/mjpegcif.cgi?language=1", 0x9001, false, false},
    };
    const std::string dir = TempDir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        CamsimProcess camsim({"--device", c.device});
        ASSERT_TRUE(camsim.Ok());
        StreamClient stream(camsim.Port(), c.target);
        std::vector<Part> parts = stream.ReadVideo(3);
        ASSERT_EQ(3u, parts.size());
        for (const Part& p : parts) {
            const std::string& jpeg = p.data;
            ASSERT_GT(jpeg.size(), 66u);
            EXPECT_EQ("\xFF\xD8", jpeg.substr(0, 2));
            EXPECT_GE(jpeg.size(), 5000u);
            if (!c.header) {
                EXPECT_EQ(std::string::npos, jpeg.find("IPCH"));
                continue;
            }
            EXPECT_EQ("\xFF\xEC", jpeg.substr(2, 2));
            EXPECT_EQ(62u, static_cast<uint8_t>(jpeg[4]) * 256u + static_cast<uint8_t>(jpeg[5]));
            EXPECT_EQ("IPCH", jpeg.substr(6, 4));
            EXPECT_EQ(c.machineCode, Le32(jpeg, 10));
            const std::string time = p.Header("X-Time"); // "YYYY-MM-DD hh:mm:ss.mmm"
            EXPECT_EQ(static_cast<uint32_t>(std::atoi(time.c_str())), Le16(jpeg, 14));
            EXPECT_EQ(std::atoi(time.c_str() + 5), jpeg[16]);
            EXPECT_EQ(std::atoi(time.c_str() + 8), jpeg[17]);
            EXPECT_EQ(std::atoi(time.c_str() + 11), jpeg[18]);
            EXPECT_EQ(std::atoi(time.c_str() + 14), jpeg[19]);
            EXPECT_EQ(std::atoi(time.c_str() + 17), jpeg[20]);
            EXPECT_EQ(static_cast<uint32_t>(std::atoi(time.c_str() + 20)), Le16(jpeg, 22));
            EXPECT_EQ(0, jpeg[24] & 0x0F); // channel 1
            EXPECT_EQ(0, jpeg[25]);
            EXPECT_EQ(static_cast<uint32_t>(std::atol(p.Header("X-Tag").c_str())), Le32(jpeg, 30));
            auto size = Resolution(p);
            EXPECT_EQ(c.size ? static_cast<uint32_t>(size.first) : 0u, Le16(jpeg, 36));
            EXPECT_EQ(c.size ? static_cast<uint32_t>(size.second) : 0u, Le16(jpeg, 38));
            for (size_t i = 41; i < 66; ++i)
                EXPECT_EQ(0, jpeg[i]) << i;
        }
        // The header does not keep a JPEG decoder from reading the picture.
        const std::string file = dir + "/" + c.device + ".jpg";
        WriteFile(file, parts[0].data);
        auto size = Resolution(parts[0]);
        EXPECT_EQ("mjpeg," + std::to_string(size.first) + "," + std::to_string(size.second) + ",1",
                  Probe(file, "image2"));
    }
}

TEST(CamsimMediaTest, Mpeg4ConfigurationFramesAndTheStreamDecodes) {
    CamsimProcess camsim({"--device", "cam-mpeg4-4752"});
    ASSERT_TRUE(camsim.Ok());
    StreamClient stream(camsim.Port(), "/ipcam/mpeg4.cgi?language=1&ch=1");
    // Two seconds of 30 fps: the second key frame arrives as frame 61.
    std::vector<Part> parts = stream.ReadVideo(64);
    ASSERT_EQ(64u, parts.size());
    std::string es;
    int configurations = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& d = parts[i].data;
        ASSERT_GE(d.size(), 5u);
        ASSERT_EQ(std::string("\x00\x00\x01", 3), d.substr(0, 3)) << i;
        const uint8_t code = static_cast<uint8_t>(d[3]);
        if (code == 0x01) {
            ++configurations;
            // The VOL follows, then the picture; no visual-object headers.
            EXPECT_EQ(std::string("\x00\x00\x01\x20", 4), d.substr(4, 4)) << i;
            EXPECT_EQ(std::string::npos, d.find(std::string("\x00\x00\x01\xB0", 4)));
            EXPECT_EQ(std::string::npos, d.find(std::string("\x00\x00\x01\xB5", 4)));
            size_t vop = d.find(std::string("\x00\x00\x01\xB6", 4));
            ASSERT_NE(std::string::npos, vop);
            EXPECT_LT(static_cast<uint8_t>(d[vop + 4]), 0x40) << "a configuration frame holds an I-VOP";
        } else {
            EXPECT_EQ(0xB6, code) << i;
            EXPECT_EQ(0x40, static_cast<uint8_t>(d[4]) & 0xC0) << "P-VOP expected at " << i;
        }
        es += d;
    }
    EXPECT_EQ(0x01, parts[0].data[3]);
    EXPECT_EQ(2, configurations);
    const std::string file = TempDir() + "/stream.m4v";
    WriteFile(file, es);
    EXPECT_EQ("mpeg4,640,480,64", Probe(file, "m4v"));
}

TEST(CamsimMediaTest, QBoxesUnwrapToH264ThatDecodes) {
    CamsimProcess camsim({"--device", "cam-fixed-36865"});
    ASSERT_TRUE(camsim.Ok());
    StreamClient stream(camsim.Port(), "/ipcam/avccif.cgi?language=1");
    std::vector<Part> parts = stream.ReadVideo(62);
    ASSERT_EQ(62u, parts.size());
    std::string annexB;
    int keys = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<Box> boxes = Boxes(parts[i].data);
        ASSERT_FALSE(boxes.empty());
        if (boxes.size() == 2) {
            ++keys;
            EXPECT_EQ(0x03u, boxes[0].flags);
            EXPECT_EQ((std::vector<int>{7, 8}), NalTypes(boxes[0].payload));
            EXPECT_EQ(0x06u, boxes[1].flags);
            std::vector<int> types = NalTypes(boxes[1].payload);
            EXPECT_NE(types.end(), std::find(types.begin(), types.end(), 5));
        } else {
            ASSERT_EQ(1u, boxes.size());
            EXPECT_EQ(0x02u, boxes[0].flags);
            std::vector<int> types = NalTypes(boxes[0].payload);
            EXPECT_EQ(types.end(), std::find(types.begin(), types.end(), 5));
            EXPECT_NE(types.end(), std::find(types.begin(), types.end(), 1));
        }
        for (const Box& b : boxes)
            annexB += b.payload;
    }
    EXPECT_EQ(2u, Boxes(parts[0].data).size()) << "the stream starts with a key frame";
    EXPECT_EQ(2, keys);
    const std::string file = TempDir() + "/stream.264";
    WriteFile(file, annexB);
    EXPECT_EQ("h264,352,288,62", Probe(file, "h264"));
}

TEST(CamsimMediaTest, KeyFramesOnlyWhenAsked) {
    struct Case {
        const char* device;
        const char* target;
        bool h264;
    };
    const Case cases[] = {
        {"cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1&ifrmonly=1&ch=1", false},
        {"dvr-h264-8776", "/avc.cgi?op.liveimage=1&ifrmonly=1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        CamsimProcess camsim({"--device", c.device});
        ASSERT_TRUE(camsim.Ok());
        StreamClient stream(camsim.Port(), c.target);
        std::vector<Part> parts = stream.ReadVideo(5);
        ASSERT_EQ(5u, parts.size());
        for (const Part& p : parts) {
            if (c.h264) {
                std::vector<Box> boxes = Boxes(p.data);
                ASSERT_EQ(2u, boxes.size());
                EXPECT_EQ(0x03u, boxes[0].flags);
                EXPECT_EQ(0x06u, boxes[1].flags);
            } else {
                EXPECT_EQ(std::string("\x00\x00\x01\x01", 4), p.data.substr(0, 4));
            }
        }
    }
}

TEST(CamsimMediaTest, AudioPartsArriveAndDecode) {
    struct Case {
        const char* device;
        const char* target;
        const char* codec;
        const char* xch;
        const char* ffmpegInput; // how ffmpeg reads the joined blocks
        size_t blockBytes;       // 0 = any
    };
    const Case cases[] = {
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&audiostream=1&ch=1", "U-LAW", "",
         "-f mulaw -ar 8000 -ac 1", 320},
        {"cam-profile-8192", "/ipcam/stream.cgi?nowprofileid=3&audiostream=1", "G726", "",
         "-f g726 -code_size 4 -sample_rate 8000", 160},
        {"dvr-h264-8777", "/avc.cgi?op.liveimage=100&audio=100", "AAC", "3", "-f aac", 0},
    };
    const std::string dir = TempDir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        CamsimProcess camsim({"--device", c.device});
        ASSERT_TRUE(camsim.Ok());
        StreamClient stream(camsim.Port(), c.target);
        std::vector<Part> parts = stream.Read(60);
        std::string audio;
        size_t blocks = 0;
        for (const Part& p : parts) {
            if (!p.IsAudio())
                continue;
            ++blocks;
            EXPECT_EQ(c.codec, p.Header("X-Codec"));
            EXPECT_EQ("audio/wav", p.Header("Content-Type"));
            EXPECT_EQ(c.xch, p.Header("X-CH"));
            EXPECT_EQ(23u, p.Header("X-Time").size());
            EXPECT_EQ(0u, p.headers.count("X-Bitrate")) << "audio parts carry their rate in X-Codec";
            if (c.blockBytes)
                EXPECT_EQ(c.blockBytes, p.data.size());
            else
                EXPECT_EQ("\xFF\xF1", p.data.substr(0, 2)); // ADTS sync, MPEG-4, no CRC
            audio += p.data;
        }
        EXPECT_GE(blocks, 5u);
        const std::string file = dir + "/audio-" + c.codec;
        WriteFile(file, audio);
        std::string errors = Shell("ffmpeg -v error " + std::string(c.ffmpegInput) + " -i '" + file +
                                   "' -f null - 2>&1; echo rc=$?");
        EXPECT_EQ("rc=0\n", errors);
    }
}

TEST(CamsimMediaTest, RecordersStreamTheAskedChannelsOnOneConnection) {
    struct Case {
        const char* device;
        const char* target;
        std::set<std::string> channels;
        int height;
    };
    const Case cases[] = {
        {"dvr-h264-8776", "/avc.cgi?op.liveimage=1011", {"1", "2", "4"}, 480},
        {"dvr-h264-8776", "/avc.cgi?op.liveimage=0", {"1", "2", "3", "4"}, 480},
        {"dvr-h264-5138", "/avc.cgi?op.liveimage=0011", {"A"}, 2 * 576 + 10},
        {"dvr-h264-5138", "/avcplay.cgi?op.playimage=20261206:1111", {"A", "B"}, 2 * 576 + 10},
        {"dvr-h264-8775", "/avcplay.cgi?op.playimage=20261206:00001001", {"1", "4"}, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target);
        CamsimProcess camsim({"--device", c.device});
        ASSERT_TRUE(camsim.Ok());
        StreamClient stream(camsim.Port(), c.target);
        std::vector<Part> parts = stream.ReadVideo(4 * c.channels.size());
        ASSERT_EQ(4 * c.channels.size(), parts.size());
        std::map<std::string, int> perChannel;
        for (const Part& p : parts) {
            ++perChannel[p.Header("X-CH")];
            EXPECT_EQ(c.height, Resolution(p).second);
            EXPECT_FALSE(Boxes(p.data).empty());
        }
        std::set<std::string> seen;
        for (const auto& e : perChannel) {
            seen.insert(e.first);
            EXPECT_EQ(4, e.second) << "channel " << e.first; // channels take turns
        }
        EXPECT_EQ(c.channels, seen);
    }
}

TEST(CamsimMediaTest, PollingEndpointsServeOneHeaderedPicturePerRequest) {
    struct Request {
        const char* target;
        int channel; // expected channel, from byte 24
        int status;  // 0 = a picture
    };
    struct Case {
        const char* device;
        std::vector<std::string> faults;
        uint32_t machineCode;
        int width, height;
        uint8_t mask;
        std::vector<Request> requests;
    };
    const Case cases[] = {
        {"vs-jpeg-12292",
         {},
         0x3004,
         352,
         288,
         0x0F,
         {{"/dms01", 1, 0},
          {"/dms04", 4, 0},
          {"/dms02", 2, 0},
          {"/dms03skip_pn", 3, 0},
          {"/dms", 1, 0},
          {"/dms05", 0, 404},
          {"/dms00", 0, 404},
          {"/dms001", 0, 404},
          {"/dmsx1", 0, 404}}},
        {"vs-jpeg-12292",
         {"--fault", "videomask=5"},
         0x3004,
         352,
         288,
         0x05,
         {{"/dms03", 3, 0}, {"/dms02", 0, 200}}},
        {"dvr-jpeg-5124",
         {},
         0x1404,
         704,
         480,
         0x0F,
         {{"/api.htm?op.liveimage=100", 3, 0},
          {"/api.htm?op.liveimage=1&audio=1", 1, 0},
          {"/api.htm?op.playimage=0:1000", 4, 0}}},
        {"dvr-jpeg-65540", {}, 0x10004, 352, 2 * 240 + 10, 0x0F, {{"/api.htm?op.liveimage=10", 1, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        std::vector<std::string> args = {"--device", c.device};
        args.insert(args.end(), c.faults.begin(), c.faults.end());
        CamsimProcess camsim(args);
        ASSERT_TRUE(camsim.Ok());
        std::map<int, uint32_t> lastSequence;
        for (int round = 0; round < 2; ++round) {
            for (const Request& r : c.requests) {
                SCOPED_TRACE(r.target);
                Answer a = Get(camsim.Port(), r.target);
                if (r.status == 404) {
                    EXPECT_EQ(404, a.status);
                    continue;
                }
                ASSERT_EQ(200, a.status);
                if (r.status == 200) {
                    // A channel without video: too small to be taken for a picture.
                    EXPECT_LT(a.body.size(), 5000u);
                    continue;
                }
                EXPECT_NE(std::string::npos, a.head.find("Content-Type: image/jpeg\r\n"));
                const std::string& jpeg = a.body;
                ASSERT_GE(jpeg.size(), 5000u);
                EXPECT_NE(14396u, jpeg.size());
                EXPECT_EQ("IPCH", jpeg.substr(6, 4));
                EXPECT_EQ(c.machineCode, Le32(jpeg, 10));
                EXPECT_EQ(r.channel - 1, jpeg[24] & 0x0F);
                EXPECT_EQ(static_cast<uint32_t>(c.width), Le16(jpeg, 36));
                EXPECT_EQ(static_cast<uint32_t>(c.height), Le16(jpeg, 38));
                EXPECT_EQ(c.mask, static_cast<uint8_t>(jpeg[40]));
                const uint32_t sequence = Le32(jpeg, 30);
                if (lastSequence.count(r.channel)) {
                    EXPECT_EQ(lastSequence[r.channel] + 1, sequence);
                }
                lastSequence[r.channel] = sequence;
            }
        }
    }
}

TEST(CamsimMediaTest, ARecorderRequestNamingSeveralChannelsWalksThem) {
    CamsimProcess camsim({"--device", "dvr-jpeg-5124"});
    ASSERT_TRUE(camsim.Ok());
    std::multiset<int> channels;
    for (int i = 0; i < 8; ++i) {
        Answer a = Get(camsim.Port(), "/api.htm?op.liveimage=1111");
        ASSERT_EQ(200, a.status);
        ASSERT_GT(a.body.size(), 40u);
        channels.insert((a.body[24] & 0x0F) + 1);
    }
    EXPECT_EQ((std::multiset<int>{1, 1, 2, 2, 3, 3, 4, 4}), channels);
}

TEST(CamsimMediaTest, ToolsSplitTheStreamIntoTheSameParts) {
    CamsimProcess camsim({"--device", "cam-vendor-61441"});
    ASSERT_TRUE(camsim.Ok());
    StreamClient stream(camsim.Port(), "/axis-cgi/mjpg/video.cgi?resolution=320x240");
    std::vector<Part> parts = stream.Read(12);
    ASSERT_EQ(12u, parts.size());
    const std::string dir = TempDir() + "/split";
    Shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "/gst' '" + dir + "/ff'");
    const std::string file = dir + "/stream.mjpg";
    WriteFile(file, stream.Raw().substr(0, stream.Consumed()));
    // multipartdemux hands a part on when the next boundary shows that it
    // ended: its copy gets the closing delimiter behind the last part.
    WriteFile(file + ".closed", stream.Raw().substr(0, stream.Consumed()) + "--myboundary--\r\n");
    Shell("gst-launch-1.0 -q filesrc location='" + file +
          ".closed' ! multipartdemux ! multifilesink location='" + dir + "/gst/%03d.jpg' >/dev/null 2>&1");
    Shell("ffmpeg -v error -f mpjpeg -i '" + file + "' -c copy -f image2 '" + dir + "/ff/%03d.jpg' 2>&1");
    for (const char* tool : {"gst", "ff"}) {
        SCOPED_TRACE(tool);
        for (size_t i = 0; i < parts.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "/%03zu.jpg", strcmp(tool, "gst") == 0 ? i : i + 1);
            std::ifstream in(dir + "/" + tool + name, std::ios::binary);
            std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_TRUE(got == parts[i].data)
                << "part " << i << ": " << got.size() << " vs " << parts[i].data.size();
        }
    }
}

TEST(CamsimMediaTest, BadQueriesGetBoundedAnswers) {
    enum class Expect { Stream, NotFound, Refused };
    struct Case {
        const char* device;
        std::string target;
        Expect expect;
        const char* resolution;         // of the first video part, "" = not checked
        std::set<std::string> channels; // X-CH values of the first parts, {} = not checked
    };
    const Case cases[] = {
        {"cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=0x0", Expect::Stream, "320*240", {}},
        {"cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=abc", Expect::Stream, "320*240", {}},
        {"cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=99999x7", Expect::Stream, "4096*16", {}},
        {"cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=161x121", Expect::Stream, "160*120", {}},
        {"dvr-h264-8776",
         "/avc.cgi?op.liveimage=" + std::string(1000, '1'),
         Expect::Stream,
         "704*480",
         {"1", "2", "3", "4"}},
        {"dvr-h264-8776", "/avc.cgi?op.liveimage=garbage", Expect::Stream, "", {"1", "2", "3", "4"}},
        {"dvr-h264-8776", "/avcplay.cgi?op.playimage=", Expect::Stream, "", {"1", "2", "3", "4"}},
        {"dvr-h264-8776", "/avcplay.cgi?op.playimage=S:0100", Expect::Stream, "", {"3"}},
        {"cam-jpeg-4608", "/avcplay.cgi?op.playimage=S:1", Expect::NotFound, "", {}},
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?ch=999999", Expect::Stream, "640*480", {}},
        {"cam-profile-5751",
         "/ipcam/stream.cgi?nowprofileid=99999999999999999999999",
         Expect::Refused,
         "",
         {}},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=7", Expect::Refused, "", {}},
        {"cam-profile-5751", "/ipcam/stream.cgi", Expect::Refused, "", {}},
        {"vs-jpeg-12292", "/dmsx1", Expect::NotFound, "", {}},
        {"vs-jpeg-12292", "/dms001", Expect::NotFound, "", {}},
        {"cam-jpeg-4608", "/dms01", Expect::NotFound, "", {}},
        {"io-box-20481", "/ipcam/sjpeg.cgi", Expect::NotFound, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target.substr(0, 60));
        CamsimProcess camsim({"--device", c.device});
        ASSERT_TRUE(camsim.Ok());
        if (c.expect != Expect::Stream) {
            Answer a = Get(camsim.Port(), c.target);
            if (c.expect == Expect::NotFound) {
                EXPECT_EQ(404, a.status);
            } else {
                EXPECT_EQ("NS stream\r\n", a.body);
            }
        } else {
            StreamClient stream(camsim.Port(), c.target);
            const size_t count = std::max<size_t>(c.channels.size(), 1);
            std::vector<Part> parts = stream.ReadVideo(count);
            ASSERT_EQ(count, parts.size());
            if (*c.resolution) {
                EXPECT_EQ(c.resolution, parts[0].Header("X-Resolution"));
            }
            std::set<std::string> channels;
            for (const Part& p : parts)
                if (!p.Header("X-CH").empty())
                    channels.insert(p.Header("X-CH"));
            EXPECT_EQ(c.channels, channels);
        }
        // The simulator is still there for the next request.
        EXPECT_EQ(200, Get(camsim.Port(), "/").status);
    }
}

// ---------------------------------------------------------------------------
// Fault switches

TEST(CamsimMediaTest, RefusalIsTheDevicesShortNsReply) {
    for (const char* target : {"/ipcam/sjpeg.cgi?language=1", "/dms01"}) {
        SCOPED_TRACE(target);
        CamsimProcess camsim(
            {"--device", target[1] == 'd' ? "vs-jpeg-12292" : "cam-jpeg-4608", "--fault", "refuse"});
        ASSERT_TRUE(camsim.Ok());
        Answer a = Get(camsim.Port(), target);
        EXPECT_EQ(200, a.status);
        EXPECT_EQ("NS stream\r\n", a.body);
    }
    // A profile that cannot stream is refused the same way.
    CamsimProcess camsim({"--device", "cam-profile-5751"});
    ASSERT_TRUE(camsim.Ok());
    EXPECT_EQ("NS stream\r\n", Get(camsim.Port(), "/ipcam/stream.cgi?nowprofileid=0").body);
}

TEST(CamsimMediaTest, DropAfterClosesTheStreamAfterThatManyParts) {
    CamsimProcess camsim({"--device", "cam-jpeg-4608", "--fault", "dropafter=7"});
    ASSERT_TRUE(camsim.Ok());
    StreamClient stream(camsim.Port(), "/ipcam/sjpeg.cgi?language=1&audiostream=1");
    std::vector<Part> parts = stream.Read(100);
    EXPECT_EQ(7u, parts.size());
    EXPECT_TRUE(stream.Closed());
    // The next connection streams again (the viewer reconnects).
    StreamClient again(camsim.Port(), "/ipcam/sjpeg.cgi?language=1");
    EXPECT_EQ(3u, again.Read(3).size());
}

TEST(CamsimMediaTest, StallKeepsTheConnectionButSendsNothing) {
    CamsimProcess camsim({"--device", "cam-vendor-61441", "--fault", "stallafter=3"});
    ASSERT_TRUE(camsim.Ok());
    StreamClient stalled(camsim.Port(), "/axis-cgi/mjpg/video.cgi?resolution=160x120");
    ASSERT_EQ(3u, stalled.Read(3).size());
    // While a healthy stream delivers ten frames, the stalled one stays open
    // and silent.
    ASSERT_EQ(200, Get(camsim.Port(), "/camsim/control?reset").status);
    StreamClient healthy(camsim.Port(), "/axis-cgi/mjpg/video.cgi?resolution=160x120");
    EXPECT_EQ(10u, healthy.Read(10).size());
    EXPECT_EQ(0u, stalled.Pending());
    EXPECT_FALSE(stalled.Closed());
}

TEST(CamsimMediaTest, PartFaultsShowInTheStream) {
    struct Case {
        const char* fault;
        const char* device;
        const char* target;
    };
    const Case cases[] = {
        {"garbage=300", "cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1"},
        {"jumpback=10", "cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1"},
        {"resize=5", "cam-fixed-36865", "/ipcam/avccif.cgi?language=1"},
        {"wait=3", "cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=160x120"},
        {"alarm=4:5", "cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1"},
        {"trickle=7:0", "cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=160x120"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        CamsimProcess camsim({"--device", c.device, "--fault", c.fault});
        ASSERT_TRUE(camsim.Ok());
        StreamClient stream(camsim.Port(), c.target);
        std::vector<Part> parts = stream.Read(16);
        ASSERT_EQ(16u, parts.size());
        const std::string name = std::string(c.fault).substr(0, std::string(c.fault).find('='));
        if (name == "garbage") {
            // Junk with lines that look almost like the boundary sits between
            // the parts, and every part still arrives whole.
            EXPECT_NE(std::string::npos, stream.Raw().find("\r\n--myboundar\r\n--myboundary-not\r\n"));
            for (const Part& p : parts)
                EXPECT_EQ("\xFF\xD9", p.data.substr(p.data.size() - 2));
        } else if (name == "jumpback") {
            int backs = 0;
            for (size_t i = 1; i < parts.size(); ++i) {
                long step = std::atol(parts[i].Header("X-Tag").c_str()) -
                            std::atol(parts[i - 1].Header("X-Tag").c_str());
                if (step != 1) {
                    ++backs;
                    EXPECT_EQ(-4, step);
                }
            }
            EXPECT_EQ(1, backs);
        } else if (name == "resize") {
            for (size_t i = 0; i < parts.size(); ++i) {
                auto size = Resolution(parts[i]);
                EXPECT_EQ(i < 5 ? std::make_pair(352, 288) : std::make_pair(176, 144), size) << i;
            }
            // The new size starts with a key frame that carries its configuration.
            std::vector<Box> boxes = Boxes(parts[5].data);
            ASSERT_EQ(2u, boxes.size());
            EXPECT_EQ(0x03u, boxes[0].flags);
        } else if (name == "wait") {
            int waits = 0;
            for (const Part& p : parts)
                if (p.IsWait()) {
                    ++waits;
                    EXPECT_EQ("0", p.Header("Content-Length"));
                }
            EXPECT_GE(waits, 4);
        } else if (name == "alarm") {
            for (const Part& p : parts) {
                const long tag = std::atol(p.Header("X-Tag").c_str());
                const int bits = tag % 4 == 0 ? 5 : 0;
                EXPECT_EQ(std::to_string(bits), p.Header("X-Alarm")) << tag;
                EXPECT_EQ(bits, p.data[25]) << tag;
            }
        } else if (name == "trickle") {
            for (const Part& p : parts)
                EXPECT_EQ(std::to_string(p.data.size()), p.Header("Content-Length"));
        }
    }
}

TEST(CamsimMediaTest, ControlCgiSwitchesMediaFaultsForTheNextStream) {
    CamsimProcess camsim({"--device", "cam-vendor-61441"});
    ASSERT_TRUE(camsim.Ok());
    ASSERT_EQ(200, Get(camsim.Port(), "/camsim/control?dropafter=2").status);
    StreamClient dropped(camsim.Port(), "/axis-cgi/mjpg/video.cgi?resolution=160x120");
    EXPECT_EQ(2u, dropped.Read(10).size());
    ASSERT_EQ(200, Get(camsim.Port(), "/camsim/control?reset").status);
    StreamClient whole(camsim.Port(), "/axis-cgi/mjpg/video.cgi?resolution=160x120");
    EXPECT_EQ(10u, whole.Read(10).size());
}

} // namespace
