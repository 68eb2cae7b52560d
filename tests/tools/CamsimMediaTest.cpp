// camsim's live media, checked as a viewer and as tools nobody here wrote see
// them: the multipart framing and part headers read from a loopback socket,
// the JPEG device header byte by byte, the MPEG-4 and H.264 elementary
// streams and the audio decoded by FFmpeg, the stream split by GStreamer's
// multipartdemux and FFmpeg's mpjpeg demuxer into the same parts, the polling
// endpoints, and the effect of each media fault switch.
#include "CamsimClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using namespace camsimtest;

// What every model describes of itself is what it sends on the path a
// viewer's plain open asks for: codec, the size in the part headers, in the
// coded picture and in the JPEG device header, the frame rate and the audio
// codec. The fixed camera's "cif" path sends the CIF size it describes.
TEST(CamsimMediaTest, EveryModelStreamsWhatItDescribes) {
    const std::string avc = "/avc.cgi?op.liveimage=", poll = "/api.htm?op.liveimage=",
                      profile = "/ipcam/stream.cgi?nowprofileid=1&ch=1";
    const struct {
        const char* model;
        std::string target; // "": a model without video
        bool cif = false;
    } cases[] = {
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&ch=1"},
        {"cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1&ch=1"},
        {"dvr-jpeg-5124", poll + "1"},
        {"dvr-jpeg-5136", poll + "1"},
        {"dvr-h264-5138", avc + "0011"},
        {"cam-profile-5751", profile},
        {"cam-profile-5753", profile},
        {"cam-profile-5761", profile},
        {"cam-profile-5763", profile},
        {"cam-profile-6002", profile},
        {"cam-profile-6003", profile},
        {"cam-profile-6004", profile},
        {"cam-profile-8192", profile},
        {"cam-profile-8193", profile},
        {"cam-profile-8448", profile},
        {"dvr-h264-8775", avc + "1"},
        {"dvr-h264-8776", avc + "1"},
        {"dvr-h264-8777", avc + "1"},
        {"vs-jpeg-12292", "/dms01"},
        {"enc-noview-16385", ""},
        {"io-box-20481", ""},
        {"cam-fixed-36865", "/ipcam/mjpeg.cgi?language=1&ch=1"},
        {"cam-fixed-36865", "/ipcam/mjpegcif.cgi?language=1&ch=1", true},
        {"cam-vendor-61441", "/axis-cgi/mjpg/video.cgi?resolution=320x240"},
        {"dvr-jpeg-65540", poll + "1"},
    };
    std::set<std::string> covered;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.target);
        covered.insert(c.model);
        Values d = Describe(c.model);
        const uint16_t port = DevicePort(c.model);
        if (c.target.empty()) {
            EXPECT_EQ("0 0x0", d["video_codec"] + " " + d["width"] + "x" + d["height"]);
            EXPECT_EQ(404, Get(port, "/ipcam/sjpeg.cgi").status);
            continue;
        }
        const std::string size =
            c.cif ? d["cif_width"] + "*" + d["cif_height"] : d["width"] + "*" + d["height"];
        const std::map<std::string, std::string> types = {
            {"1000", "image/jpeg"}, {"1005", "image/mpeg4"}, {"1010", "image/avc"}};
        const std::string type = types.at(d["video_codec"]);
        const bool jpegHeader = type == "image/jpeg" && d["jpeg_device_header"] == "1";
        const std::string header = jpegHeader ? d["header_width"] + "*" + d["header_height"] : "none";
        if (d["receive_type"] == "2") {
            const Answer a = Get(port, c.target);
            EXPECT_NE(std::string::npos, a.head.find("Content-Type: " + type + "\r\n"));
            EXPECT_EQ(size, JpegFrameSize(a.body));
            EXPECT_EQ(header, DeviceHeader(a.body).substr(DeviceHeader(a.body).rfind(' ') + 1));
            continue;
        }
        ASSERT_EQ("1", d["receive_type"]);
        // Audio is asked as a viewer asks it when the model says it has some.
        const bool audio = d["audio_supported"] == "1";
        const std::string ask = !audio ? "" : d["dialect"] == "multi-channel" ? "&audio=1" : "&audiostream=1";
        StreamClient stream(port, c.target + ask);
        std::vector<Part> video;
        std::set<std::string> audioCodecs;
        auto enough = [&] { return video.size() >= 2 && (!audio || !audioCodecs.empty()); };
        for (int parts = 0; parts < 16 && !enough(); ++parts) {
            for (const Part& p : stream.Read(1)) {
                if (p.IsAudio())
                    audioCodecs.insert(p.Header("X-Codec"));
                else if (!p.IsWait())
                    video.push_back(p);
            }
        }
        ASSERT_GE(video.size(), 2u);
        for (const Part& p : video) {
            EXPECT_EQ(type, p.Header("Content-Type"));
            EXPECT_EQ(size, p.Header("X-Resolution"));
            EXPECT_EQ(std::to_string(Number(d, "frame_rate") / 1000), p.Header("X-Framerate"));
        }
        EXPECT_EQ(size, CodedSize(video[0]));
        if (type == "image/jpeg") {
            EXPECT_EQ(header, DeviceHeader(video[0].data).substr(DeviceHeader(video[0].data).rfind(' ') + 1));
        }
        const std::map<std::string, std::string> audioNames = {
            {"2005", "U-LAW"}, {"2010", "AAC"}, {"2020", "G726"}};
        EXPECT_EQ(audio ? std::set<std::string>{audioNames.at(d["audio_codec"])} : std::set<std::string>{},
                  audioCodecs);
    }
    std::istringstream models(Camsim("--list"));
    for (std::string model; std::getline(models, model);)
        EXPECT_EQ(1u, covered.count(model)) << model << " has no row";
}

// A configuration frame (VOL, then an I-VOP) opens the stream, then P-VOPs;
// asked for key frames only, every part is a configuration frame.
TEST(CamsimMediaTest, Mpeg4ConfigurationFramesAndTheStreamDecodes) {
    const uint16_t port = DevicePort("cam-mpeg4-4752");
    StreamClient stream(port, "/ipcam/mpeg4.cgi?language=1&ch=1");
    const std::vector<Part> parts = stream.Read(20, true);
    ASSERT_EQ(20u, parts.size());
    std::string es;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& d = parts[i].data;
        ASSERT_GE(d.size(), 8u);
        EXPECT_EQ(std::string("\x00\x00\x01", 3) + (i == 0 ? '\x01' : '\xB6'), d.substr(0, 4)) << i;
        if (i == 0) {
            EXPECT_EQ(std::string("\x00\x00\x01\x20", 4), d.substr(4, 4));
            EXPECT_EQ(std::string::npos, d.find(std::string("\x00\x00\x01\xB0", 4)));
            const size_t vop = d.find(std::string("\x00\x00\x01\xB6", 4));
            ASSERT_NE(std::string::npos, vop);
            EXPECT_LT(static_cast<uint8_t>(d[vop + 4]), 0x40) << "an I-VOP";
        } else {
            EXPECT_EQ(0x40, static_cast<uint8_t>(d[4]) & 0xC0) << "a P-VOP at " << i;
        }
        es += d;
    }
    EXPECT_EQ("mpeg4,640*480,20", Probe(WriteFile("stream.m4v", es), "m4v"));
    StreamClient keys(port, "/ipcam/mpeg4.cgi?language=1&ifrmonly=1&ch=1");
    for (const Part& p : keys.Read(3, true))
        EXPECT_EQ(std::string("\x00\x00\x01\x01", 4), p.data.substr(0, 4));
}

// A key frame: a box of SPS and PPS (flags 3) and one with the IDR slice
// (flags 6); other frames one box (flags 2) of non-IDR slices.
TEST(CamsimMediaTest, QBoxesUnwrapToH264ThatDecodes) {
    StreamClient stream(DevicePort("cam-fixed-36865"), "/ipcam/avccif.cgi?language=1");
    const std::vector<Part> parts = stream.Read(20, true);
    ASSERT_EQ(20u, parts.size());
    std::string annexB;
    for (size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<Box> boxes = Boxes(parts[i].data);
        ASSERT_EQ(i == 0 ? 2u : 1u, boxes.size());
        if (i == 0) {
            EXPECT_EQ(0x03u, boxes[0].flags);
            EXPECT_EQ((std::vector<int>{7, 8}), NalTypes(boxes[0].payload));
            EXPECT_EQ(0x06u, boxes[1].flags);
            EXPECT_EQ(5, NalTypes(boxes[1].payload).back());
        } else {
            EXPECT_EQ(0x02u, boxes[0].flags);
            EXPECT_EQ((std::vector<int>{1}), NalTypes(boxes[0].payload));
        }
        for (const Box& b : boxes)
            annexB += b.payload;
    }
    EXPECT_EQ("h264,352*288,20", Probe(WriteFile("stream.264", annexB), "h264"));
    StreamClient keys(DevicePort("dvr-h264-8776"), "/avc.cgi?op.liveimage=1&ifrmonly=1");
    for (const Part& p : keys.Read(3, true))
        EXPECT_EQ(2u, Boxes(p.data).size());
}

TEST(CamsimMediaTest, AudioPartsArriveAndDecode) {
    const struct {
        const char* device;
        const char* target;
        const char* codec;
        const char* xch;
        const char* ffmpegInput; // how ffmpeg reads the joined blocks
        size_t blockBytes;       // 0: ADTS frames of any size
    } cases[] = {
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&audiostream=1&ch=1", "U-LAW", "",
         "-f mulaw -ar 8000 -ac 1", 320},
        {"cam-profile-8192", "/ipcam/stream.cgi?nowprofileid=3&audiostream=1", "G726", "",
         "-f g726 -code_size 4 -sample_rate 8000", 160},
        {"dvr-h264-8777", "/avc.cgi?op.liveimage=100&audio=100", "AAC", "3", "-f aac", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        StreamClient stream(DevicePort(c.device), c.target);
        std::string audio;
        size_t blocks = 0;
        for (const Part& p : stream.Read(30)) {
            if (!p.IsAudio())
                continue;
            ++blocks;
            EXPECT_EQ(c.codec, p.Header("X-Codec"));
            EXPECT_EQ("audio/wav", p.Header("Content-Type"));
            EXPECT_EQ(c.xch, p.Header("X-CH"));
            EXPECT_EQ(c.blockBytes ? std::to_string(c.blockBytes) : "\xFF\xF1",
                      c.blockBytes ? std::to_string(p.data.size()) : p.data.substr(0, 2));
            audio += p.data;
        }
        EXPECT_GE(blocks, 3u);
        const std::string file = WriteFile(std::string("audio-") + c.codec, audio);
        EXPECT_EQ("rc=0\n", Shell("ffmpeg -v error " + std::string(c.ffmpegInput) + " -i '" + file +
                                  "' -f null - 2>&1; echo rc=$?"));
    }
}

// Stream requests whatever their query: part headers as a viewer reads them,
// the asked channels taking turns on one connection, sizes bounded, and what
// cannot stream refused ("NS") or absent (404). A JPEG's device header
// carries the year of X-Time and the frame number of X-Tag, and does not keep
// a JPEG decoder from the picture.
TEST(CamsimMediaTest, StreamRequestsAndTheirParts) {
    const std::string vendor = "/axis-cgi/mjpg/video.cgi?resolution=", live = "/avc.cgi?op.liveimage=",
                      play = "/avcplay.cgi?op.playimage=";
    const struct {
        const char* device;
        std::string target;
        const char* type;                      // of every part; "NS" refused, "404" absent
        const char* resolution = "";           // of every part
        const char* header = "";               // DeviceHeader of every JPEG part
        std::set<std::string> channels = {""}; // X-CH of the parts
    } cases[] = {
        {"cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&ch=1", "image/jpeg", "640*480", "1200 ch1 640*480"},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=3", "image/jpeg", "320*240", "1677 ch1 320*240"},
        {"cam-profile-8192", "/ipcam/stream.cgi?nowprofileid=3", "image/jpeg", "320*240", "2000 ch1 0*0"},
        {"cam-fixed-36865", "/ipcam/mjpegcif.cgi?language=1", "image/jpeg", "352*288", "none"},
        {"cam-vendor-61441", vendor + "160x120", "image/jpeg", "160*120", "none"},
        {"cam-vendor-61441", vendor + "99999x7", "image/jpeg", "4096*16", "none"},
        {"cam-vendor-61441", vendor + "161x121", "image/jpeg", "160*120", "none"},
        {"cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1&ch=1", "image/mpeg4", "640*480"},
        {"cam-fixed-36865", "/ipcam/avccif.cgi?language=1", "image/avc", "352*288"},
        {"dvr-h264-8776", live + "10", "image/avc", "704*480", "", {"2"}},
        {"dvr-h264-8776", live + "1011", "image/avc", "704*480", "", {"1", "2", "4"}},
        {"dvr-h264-8776", live + std::string(1000, '1'), "image/avc", "704*480", "", {"1", "2", "3", "4"}},
        {"dvr-h264-8776", play + "S:0100", "image/avc", "704*480", "", {"3"}},
        {"dvr-h264-5138", live + "1100", "image/avc", "720*1162", "", {"B"}},
        {"dvr-h264-5138", live + "0011", "image/avc", "720*1162", "", {"A"}},
        {"dvr-h264-8775", play + "20261206:00001001", "image/avc", "704*480", "", {"1", "4"}},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=99999999999999999999999", "NS"},
        {"cam-profile-5751", "/ipcam/stream.cgi?nowprofileid=0", "NS"},
        {"cam-jpeg-4608", play + "S:1", "404"},
        {"io-box-20481", "/ipcam/sjpeg.cgi", "404"},
        {"vs-jpeg-12292", "/dms05", "404"},
        {"vs-jpeg-12292", "/dmsx1", "404"},
        {"cam-jpeg-4608", "/dms01", "404"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.target.substr(0, 60));
        const uint16_t port = DevicePort(c.device);
        const std::string type = c.type;
        if (type == "NS" || type == "404") {
            const Answer a = Get(port, c.target);
            EXPECT_EQ(type, a.status == 404             ? "404"
                            : a.body == "NS stream\r\n" ? "NS"
                                                        : a.body.substr(0, 20));
            continue;
        }
        StreamClient stream(port, c.target);
        EXPECT_EQ(0u, stream.Head().find("HTTP/1.1 200 OK\r\n"));
        EXPECT_NE(std::string::npos, stream.Head().find("multipart/x-mixed-replace;boundary=myboundary"));
        const std::vector<Part> parts = stream.Read(3 * c.channels.size(), true);
        ASSERT_EQ(3 * c.channels.size(), parts.size());
        std::map<std::string, int> turns, threeEach;
        for (const Part& p : parts) {
            EXPECT_EQ(type, p.Header("Content-Type"));
            EXPECT_EQ(std::to_string(p.data.size()), p.Header("Content-Length"));
            EXPECT_EQ(c.resolution, p.Header("X-Resolution"));
            EXPECT_EQ(23u, p.Header("X-Time").size()) << p.Header("X-Time");
            ++turns[p.Header("X-CH")];
            if (type != "image/jpeg")
                continue;
            EXPECT_EQ(c.header, DeviceHeader(p.data));
            if (c.header != std::string("none")) {
                EXPECT_EQ(static_cast<uint32_t>(std::atoi(p.Header("X-Time").c_str())), Le16(p.data, 14));
                EXPECT_EQ(static_cast<uint32_t>(std::atol(p.Header("X-Tag").c_str())), Le32(p.data, 30));
            }
        }
        for (const std::string& channel : c.channels)
            threeEach[channel] = 3;
        EXPECT_EQ(threeEach, turns) << "the channels take turns";
        if (type == "image/jpeg") {
            EXPECT_EQ("mjpeg," + std::string(c.resolution) + ",1",
                      Probe(WriteFile("part.jpg", parts[0].data)));
        }
    }
}

// Each poll is one picture with the device header; a channel's numbers go on
// from poll to poll, and a request naming several channels walks them.
TEST(CamsimMediaTest, PollingEndpointsServeOneHeaderedPicturePerRequest) {
    const struct {
        const char* device;
        const char* target;
        const char* header;
    } cases[] = {
        {"vs-jpeg-12292", "/dms01", "3004 ch1 352*288"},
        {"vs-jpeg-12292", "/dms04", "3004 ch4 352*288"},
        {"vs-jpeg-12292", "/dms03skip_pn", "3004 ch3 352*288"},
        {"vs-jpeg-12292", "/dms", "3004 ch1 352*288"},
        {"dvr-jpeg-5124", "/api.htm?op.liveimage=100", "1404 ch3 704*480"},
        {"dvr-jpeg-5124", "/api.htm?op.playimage=0:1000", "1404 ch4 704*480"},
        {"dvr-jpeg-65540", "/api.htm?op.liveimage=10", "10004 ch1 352*490"},
    };
    std::map<std::string, uint32_t> lastSequence;
    for (int round = 0; round < 2; ++round)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.device) + " " + c.target);
            const Answer a = Get(DevicePort(c.device), c.target);
            ASSERT_EQ(200, a.status);
            EXPECT_NE(std::string::npos, a.head.find("Content-Type: image/jpeg\r\n"));
            ASSERT_GE(a.body.size(), 5000u);
            EXPECT_EQ(c.header, DeviceHeader(a.body));
            EXPECT_EQ(0x0F, a.body[40]);
            const std::string key = std::string(c.device) + DeviceHeader(a.body);
            if (lastSequence.count(key)) {
                EXPECT_EQ(lastSequence[key] + 1, Le32(a.body, 30));
            }
            lastSequence[key] = Le32(a.body, 30);
            const std::string size = std::string(c.header).substr(std::string(c.header).rfind(' ') + 1);
            if (round == 0 && c.target[1] == 'a') { // the header does not keep a decoder from the picture
                EXPECT_EQ("mjpeg," + size + ",1", Probe(WriteFile("poll.jpg", a.body)));
            }
        }
    std::multiset<int> channels;
    for (int i = 0; i < 8; ++i)
        channels.insert((Body(DevicePort("dvr-jpeg-5124"), "/api.htm?op.liveimage=1111")[24] & 0x0F) + 1);
    EXPECT_EQ((std::multiset<int>{1, 1, 2, 2, 3, 3, 4, 4}), channels);
}

TEST(CamsimMediaTest, ToolsSplitTheStreamIntoTheSameParts) {
    StreamClient stream(DevicePort("cam-vendor-61441"), "/axis-cgi/mjpg/video.cgi?resolution=320x240");
    const std::vector<Part> parts = stream.Read(8);
    ASSERT_EQ(8u, parts.size());
    const std::string dir = TempDir() + "/split";
    Shell("mkdir -p '" + dir + "/gst' '" + dir + "/ff'");
    const std::string file = WriteFile("split/stream.mjpg", stream.Consumed());
    // multipartdemux hands a part on when the next boundary shows that it
    // ended: its copy gets the closing delimiter behind the last part.
    WriteFile("split/closed.mjpg", stream.Consumed() + "--myboundary--\r\n");
    Shell("gst-launch-1.0 -q filesrc location='" + dir +
          "/closed.mjpg' ! multipartdemux ! multifilesink location='" + dir +
          "/gst/%03d.jpg' >/dev/null 2>&1");
    Shell("ffmpeg -v error -f mpjpeg -i '" + file + "' -c copy -f image2 '" + dir + "/ff/%03d.jpg' 2>&1");
    for (const std::string tool : {"gst", "ff"}) {
        SCOPED_TRACE(tool);
        for (size_t i = 0; i < parts.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "/%03zu.jpg", tool == "gst" ? i : i + 1);
            std::ifstream in(dir + "/" + tool + name, std::ios::binary);
            const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_TRUE(got == parts[i].data)
                << "part " << i << ": " << got.size() << " vs " << parts[i].data.size();
        }
    }
}

// Each switch set through the control CGI and taken by the next stream. A
// part is written as a letter: '.' a plain one, 'w' a waiting part, 'j' a
// step back of four frame numbers, 'r' the halved size, 'a' alarm bits.
TEST(CamsimMediaTest, FaultSwitchesShowInTheStream) {
    const char* vendor = "/axis-cgi/mjpg/video.cgi?resolution=160x120";
    const struct {
        const char* fault;
        const char* device;
        const char* target;
        const char* seen; // null: checked below
    } cases[] = {
        {"dropafter=7", "cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1&audiostream=1", "......."},
        {"stallafter=3", "cam-vendor-61441", vendor, "..."},
        {"garbage=300", "cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1", ".........."},
        {"jumpback=6", "cam-mpeg4-4752", "/ipcam/mpeg4.cgi?language=1", "........."}, // 'j' taken out
        {"resize=5", "cam-fixed-36865", "/ipcam/avccif.cgi?language=1", ".....rrrrr"},
        {"wait=3", "cam-vendor-61441", vendor, "..w...w..."},
        {"alarm=4:5", "cam-jpeg-4608", "/ipcam/sjpeg.cgi?language=1", nullptr},
        {"trickle=7:0", "cam-vendor-61441", vendor, ".........."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string name = std::string(c.fault).substr(0, std::string(c.fault).find('='));
        const uint16_t port = DevicePort(c.device);
        ASSERT_EQ(200, Get(port, std::string("/camsim/control?reset&") + c.fault).status);
        StreamClient stream(port, c.target);
        // A stalled stream is read no further than its last part: more would
        // wait out the deadline.
        const std::vector<Part> parts = stream.Read(name == "stallafter" ? 3 : 10);
        ASSERT_EQ(200, Get(port, "/camsim/control?reset").status);
        std::string seen;
        long lastTag = 0;
        for (const Part& p : parts) {
            const long tag = std::atol(p.Header("X-Tag").c_str());
            const bool video = !p.IsWait() && !p.IsAudio(); // audio and waiting parts carry no frame number
            const long step = !video || !lastTag ? 1 : tag - lastTag;
            lastTag = video ? tag : lastTag;
            seen += p.IsWait()                            ? 'w'
                    : step == -4                          ? 'j'
                    : step != 1                           ? '?'
                    : video && p.Header("X-Alarm") != "0" ? 'a'
                                                          : '.';
            if (p.Header("X-Resolution") == "176*144")
                seen.back() = 'r';
            if (name == "alarm") { // every 4th frame counted from the device's first
                EXPECT_EQ(tag % 4 ? "0" : "5", p.Header("X-Alarm")) << tag;
                EXPECT_EQ(tag % 4 ? 0 : 5, p.data[25]) << tag;
            }
        }
        if (name == "jumpback") // one step back, wherever it falls
            seen.erase(std::remove(seen.begin(), seen.end(), 'j'), seen.end());
        if (c.seen) {
            EXPECT_EQ(c.seen, seen);
        }
        EXPECT_EQ(name == "dropafter", stream.Closed());
        if (name == "dropafter" || name == "stallafter") { // the next stream is whole, the stalled one silent
            EXPECT_EQ(10u, StreamClient(port, c.target).Read(10).size());
            EXPECT_EQ(0u, stream.Pending());
        } else if (name == "garbage") { // near-boundaries between parts, every part still whole
            EXPECT_NE(std::string::npos, stream.Consumed().find("\r\n--myboundar\r\n--myboundary-not\r\n"));
            for (const Part& p : parts)
                EXPECT_EQ("\xFF\xD9", p.data.substr(p.data.size() - 2));
        } else if (name == "resize") { // the new size starts with a key frame and its configuration
            EXPECT_EQ(2u, Boxes(parts[5].data).size());
        }
    }
    // Refusal is the device's short answer; a masked channel answers a short text.
    Get(DevicePort("vs-jpeg-12292"), "/camsim/control?refuse");
    EXPECT_EQ("NS stream\r\n", Body(DevicePort("vs-jpeg-12292"), "/dms01"));
    Get(DevicePort("vs-jpeg-12292"), "/camsim/control?reset&videomask=5");
    EXPECT_GT(5000u, Body(DevicePort("vs-jpeg-12292"), "/dms02").size());
    EXPECT_EQ(0x05, Body(DevicePort("vs-jpeg-12292"), "/dms03")[40]);
    Get(DevicePort("vs-jpeg-12292"), "/camsim/control?reset");
}

} // namespace
