// Each device family's set-up paths, provoked on camsim (the simulated device)
// over loopback: a row switches the device (stored values, refused keys, a cut
// picture) and the test works out from the family's rules, applied to the
// values camsim serves after the switch, what the viewer's open must conclude.
#include "CamsimDevice.h"

#include "device/CDeviceProfile.h"
#include "ipcamview/Viewer.h"
#include "viewer/CMachineCodeCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

struct Row {
    const char* model;
    int32_t channel;
    int32_t profile;
    std::string device; // switches for "/camsim/device?" ("set.NAME=V", "reply=NG:KEY"), may be empty
    std::string media;  // switches for "/camsim/control?", may be empty
    std::set<std::string> refused; // keys the device switches answer with another word than OK
};

struct Conclusion {
    bool setUp = false;
    int32_t codec = 0, width = 0, height = 0, frameRate = 0, audio = 0, audioCodec = 0;
};

using Values = std::map<std::string, std::string>;

// Starts (once per model) and clears the model, applies the row's switches and
// returns the values the device now serves ("param.NAME" of its description).
Values Prepare(const Row& row, int* port) {
    static std::map<std::string, std::unique_ptr<camsim::Device>> devices;
    std::unique_ptr<camsim::Device>& device = devices[row.model];
    if (!device)
        device = std::make_unique<camsim::Device>(row.model);
    EXPECT_TRUE(device->Started()) << device->Error();
    *port = device->Port();
    EXPECT_TRUE(camsim::Control(*port, "reset"));
    EXPECT_NE(std::string::npos, camsim::Get(*port, "/camsim/control?reset").find(" 200 "));
    if (!row.device.empty()) {
        EXPECT_TRUE(camsim::Control(*port, row.device)) << row.device;
    }
    if (!row.media.empty()) {
        EXPECT_NE(std::string::npos, camsim::Get(*port, "/camsim/control?" + row.media).find(" 200 "));
    }
    CMachineCodeCache::DestroyProcessCache();
    Values values;
    std::istringstream lines(camsim::Get(*port, "/camsim/device?describe"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (line.compare(0, 6, "param.") == 0 && equals != std::string::npos)
            values[line.substr(6, equals - 6)] = line.substr(equals + 1);
    }
    return values;
}

int Value(const Values& values, const std::string& name, int fallback = 0) {
    auto found = values.find(name);
    return found == values.end() ? fallback : std::stoi(found->second);
}

// Opens the row's device and compares what the dialect concluded; a set-up that
// failed leaves the dialect reset and no stream.
void OpenAndCompare(const Row& row, const Conclusion& want, int port) {
    CViewer viewer;
    media_util::CMediaObj params;
    params.mProfileId = row.profile;
    int32_t audio = 1;
    const std::string address = "127.0.0.1:" + std::to_string(port);
    ASSERT_NE(
        0, viewer.Open(CViewer::kTransportSocket, address.c_str(), 0, "", "", &audio, row.channel, &params));
    ASSERT_NE(nullptr, viewer.mpProfile);
    const CDeviceProfile& p = *viewer.mpProfile;
    EXPECT_EQ(want.setUp, p.mMachineCode != 0) << "a failed set-up resets the dialect";
    EXPECT_EQ(want.codec, p.mVideoCodec);
    EXPECT_EQ(want.width, p.mWidth);
    EXPECT_EQ(want.height, p.mHeight);
    EXPECT_EQ(want.frameRate, p.mFrameRate);
    EXPECT_EQ(want.audio, p.mAudioSupported);
    EXPECT_EQ(want.audioCodec, p.mAudioCodec);
    EXPECT_EQ(want.setUp ? want.audio : 1, audio) << "the audio answer only after a set-up";
    if (!want.setUp) {
        EXPECT_FALSE(viewer.HasStreamPath());
    }
}

void RunTable(const std::vector<Row>& rows, Conclusion (*rule)(const Row&, const Values&)) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.model) + " channel " + std::to_string(row.channel) + " profile " +
                     std::to_string(row.profile) + " [" + row.device + "] [" + row.media + "]");
        int port = 0;
        const Values values = Prepare(row, &port);
        OpenAndCompare(row, rule(row, values), port);
    }
}

// Profile cameras: "streamvalid" must answer OK with a value other than "0";
// a refused format or size leaves it unset; rate and audio come from the
// parameter CGI either way, but a failed set-up resets them with the rest.
Conclusion ProfileRule(const Row& row, const Values& v) {
    const std::string prefix = "profile." + std::to_string(row.profile) + ".";
    Conclusion c;
    c.setUp = !row.refused.count("streamvalid") && v.count(prefix + "streamvalid") &&
              v.at(prefix + "streamvalid") != "0";
    if (!c.setUp)
        return c;
    const int format = Value(v, prefix + "format");
    c.codec = row.refused.count("getformat") ? 0 : format == 1 ? 1005 : format == 2 ? 1010 : 1000;
    c.width = row.refused.count("getxsize") ? 0 : Value(v, prefix + "xsize");
    c.height = row.refused.count("getysize") ? 0 : Value(v, prefix + "ysize");
    c.frameRate = Value(v, "videomode") != 0 ? 25000 : 30000;
    c.audio = Value(v, "audioenable") == 1 ? 1 : 0;
    c.audioCodec = std::string(row.model) == "cam-profile-8192" ? 2020 : 2005;
    return c;
}

TEST(CDialectCamsimTest, ProfileCameras) {
    RunTable({{"cam-profile-8192", 1, 1, "", "", {}},
              {"cam-profile-8192", 1, 3, "", "", {}},
              {"cam-profile-5751", 1, 2, "set.videomode=1&set.audioenable=0", "", {}},
              {"cam-profile-8192", 1, 0, "", "", {}}, // the profile that cannot stream
              {"cam-profile-8192", 1, 7, "", "", {}}, // a profile the camera lacks
              {"cam-profile-8192", 1, 1, "set.profile.1.streamvalid=0", "", {}},
              {"cam-profile-8192", 1, 1, "reply=NG:streamvalid", "", {"streamvalid"}},
              {"cam-profile-8192", 1, 2, "reply=NG:getformat", "", {"getformat"}},
              {"cam-profile-8192", 1, 3, "reply=UA:getxsize", "", {"getxsize"}},
              {"cam-profile-8193", 1, 1, "reply=ok:getysize", "", {"getysize"}}},
             ProfileRule);
}

// Recorders: the H.264 models ask their channel's AVC size (nothing given
// means 720 by 576; models that report 624 or 504 lines send 576- or
// 480-line pictures); the JPEG models read the size from the
// device header of one picture, 704 by 272 when the picture is too short.
Conclusion RecorderRule(const Row& row, const Values& v) {
    const bool avc = std::string(row.model).find("h264") != std::string::npos;
    Conclusion c{true, avc ? 1010 : 1000, 0, 0, 30000, avc ? 1 : 0, avc ? 2010 : 2005};
    const std::string n = "." + std::to_string(row.channel);
    if (avc) {
        c.width = Value(v, "avcxsize" + n) < 1 ? 720 : Value(v, "avcxsize" + n);
        c.height = Value(v, "avcysize" + n) < 1 ? 576 : Value(v, "avcysize" + n);
        c.height = c.height == 624 ? 576 : c.height == 504 ? 480 : c.height;
    } else if (row.media.find("refuse=1") != std::string::npos) {
        c.width = 704;
        c.height = 272;
    } else { // every channel the same size, whichever the device picks
        c.width = Value(v, "jpegxsize.1");
        c.height = Value(v, "jpegysize.1");
    }
    return c;
}

TEST(CDialectCamsimTest, Recorders) {
    const std::string small =
        "set.jpegxsize.1=352&set.jpegxsize.2=352&set.jpegxsize.3=352&set.jpegxsize.4=352"
        "&set.jpegysize.1=240&set.jpegysize.2=240&set.jpegysize.3=240&set.jpegysize.4=240";
    RunTable({{"dvr-h264-5138", 1, 0, "", "", {}},
              {"dvr-h264-8776", 2, 0, "", "", {}},
              {"dvr-h264-8775", 3, 0, "set.avcysize.3=624", "", {}},
              {"dvr-h264-8777", 1, 0, "set.avcysize.1=504&set.avcxsize.1=0", "", {}},
              {"dvr-h264-8775", 2, 0, "set.avcysize.2=0", "", {}},
              {"dvr-h264-5138", 4, 0, "set.avcysize.4=480&set.avcxsize.4=352", "", {}},
              {"dvr-jpeg-5124", 1, 0, "", "", {}},
              {"dvr-jpeg-5124", 1, 0, small, "", {}},
              {"dvr-jpeg-5124", 1, 0, "", "refuse=1", {}}}, // "NS stream": no picture at all
             RecorderRule);
}

// The video server: its "/getstate?value=ntsc" body begins with "1" in PAL.
Conclusion StandardRule(const Row&, const Values& v) {
    const bool pal = Value(v, "videomode") == 1;
    return {true, 1000, 352, pal ? 288 : 240, pal ? 25000 : 30000, 0, 2005};
}

TEST(CDialectCamsimTest, VideoStandardServer) {
    RunTable({{"vs-jpeg-12292", 1, 0, "", "", {}},
              {"vs-jpeg-12292", 1, 0, "set.videomode=0", "", {}},
              {"vs-jpeg-12292", 1, 0, "set.videomode=1", "", {}}},
             StandardRule);
}

// Parameter cameras: "supportavc" 1 means H.264, else "getformat" 0 JPEG and
// 1 MPEG-4; a format not answered OK leaves codec and size unset.
Conclusion DefaultRule(const Row& row, const Values& v) {
    Conclusion c{true, 0, 0, 0, Value(v, "videomode") != 0 ? 25000 : 30000, Value(v, "audioenable") == 1,
                 2005};
    const int format = Value(v, "format");
    if (!row.refused.count("supportavc") && Value(v, "supportavc") == 1) {
        c.codec = 1010;
        c.width = Value(v, "avcxsize");
        c.height = Value(v, "avcysize");
    } else if (!row.refused.count("getformat") && (format == 0 || format == 1)) {
        c.codec = format == 0 ? 1000 : 1005;
        c.width = Value(v, format == 0 ? "jpegxsize" : "mpeg4xsize");
        c.height = Value(v, format == 0 ? "jpegysize" : "mpeg4ysize");
    }
    return c;
}

TEST(CDialectCamsimTest, ParameterCameras) {
    RunTable({{"cam-jpeg-4608", 1, 0, "", "", {}},
              {"cam-mpeg4-4752", 1, 0, "", "", {}},
              {"cam-jpeg-4608", 1, 0, "set.format=1&set.mpeg4xsize=320&set.mpeg4ysize=240", "", {}},
              {"cam-jpeg-4608", 1, 0, "set.supportavc=1&set.avcxsize=352&set.videomode=1", "", {}},
              {"cam-jpeg-4608", 1, 0, "reply=NG:getformat", "", {"getformat"}},
              {"cam-mpeg4-4752", 1, 0, "reply=NS:getformat", "", {"getformat"}},
              {"cam-mpeg4-4752", 1, 0, "reply=UA:getformat&set.audioenable=0", "", {"getformat"}},
              {"cam-jpeg-4608", 1, 0, "set.supportavc=1&reply=NG:supportavc", "", {"supportavc"}},
              {"cam-jpeg-4608", 1, 0, "set.format=7", "", {}}},
             DefaultRule);
}

} // namespace
