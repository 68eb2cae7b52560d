#include "device/CProfileQueryDialect.h"

#include "device/FakeHttpClient.h"
#include "net/CUrl.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using media_util::CMediaObj;

namespace {

struct SRig {
    CFakeHttpClient client;
    CHttpLink link{&client};
    CUrl url;
    SParamDevice device;

    SRig() {
        EXPECT_NE(url.Crack("http://127.0.0.1:8080/"), 0);
        client.mHandler = [this](const std::string& path) { return device(path); };
    }
};

// What a set-up concluded.
struct SOutcome {
    int result;
    int32_t codec, width, height, frameRate, audioSupported, audioCodec;
};

void ExpectOutcome(const CDeviceProfile& profile, int result, const SOutcome& expected) {
    EXPECT_EQ(result, expected.result);
    EXPECT_EQ(profile.mVideoCodec, expected.codec);
    EXPECT_EQ(profile.mWidth, expected.width);
    EXPECT_EQ(profile.mHeight, expected.height);
    EXPECT_EQ(profile.mFrameRate, expected.frameRate);
    EXPECT_EQ(profile.mAudioSupported, expected.audioSupported);
    EXPECT_EQ(profile.mAudioCodec, expected.audioCodec);
}

// A camera of the default family that knows all three codecs' sizes, with
// the size keys carrying channel 1.
std::map<std::string, std::string> CameraLines(const std::string& supportAvc, const std::string& format) {
    return {
        {"supportavc", supportAvc},
        {"getformat", format},
        {"getjpegxsize=1", "OK getjpegxsize=640"},
        {"getjpegysize=1", "OK getjpegysize=480"},
        {"getmpeg4xsize", "OK getmpeg4xsize=352"},
        {"getmpeg4ysize", "OK getmpeg4ysize=288"},
        {"getavcxsize", "OK getavcxsize=1280"},
        {"getavcysize", "OK getavcysize=720"},
        {"getaudioenable", "OK getaudioenable=1"},
        {"videomode", "OK videomode=0"},
    };
}

const char* const kFirstBatchCh1 = "/vb.htm?supportavc&getformat&getjpegxsize=1&getjpegysize=1&getmpeg4xsize&"
                                   "getmpeg4ysize&getavcxsize&getavcysize";
const char* const kSecondBatch = "/vb.htm?getaudioenable&videomode";

struct SDefaultCase {
    const char* name;
    std::map<std::string, std::string> lines;
    std::map<std::string, std::string> changes; // applied to lines ("" removes)
    int32_t hostCodec;
    std::vector<int> refused; // request indices that fail
    SOutcome expected;
};

TEST(CProfileQueryDialectTest, DefaultSetUpChoosesCodecAndSizes) {
    const auto base = CameraLines("OK supportavc=0", "OK getformat=0");
    const SDefaultCase cases[] = {
        {"H.264 camera, host without a wish",
         base,
         {{"supportavc", "OK supportavc=1"}},
         0,
         {},
         {1, 1010, 1280, 720, 30000, 1, 2005}},
        {"H.264 camera, host wants MPEG-4: still H.264",
         base,
         {{"supportavc", "OK supportavc=1"}},
         1005,
         {},
         {1, 1010, 1280, 720, 30000, 1, 2005}},
        {"H.264 camera, host wants JPEG",
         base,
         {{"supportavc", "OK supportavc=1"}},
         1000,
         {},
         {1, 1000, 640, 480, 30000, 1, 2005}},
        {"format 1 is MPEG-4",
         base,
         {{"getformat", "OK getformat=1"}},
         0,
         {},
         {1, 1005, 352, 288, 30000, 1, 2005}},
        {"format 0 is JPEG", base, {}, 1010, {}, {1, 1000, 640, 480, 30000, 1, 2005}},
        {"format 2 is unknown: no codec, no size",
         base,
         {{"getformat", "OK getformat=2"}},
         0,
         {},
         {1, 0, 0, 0, 30000, 1, 2005}},
        {"AVC support refused (NG) falls back to the format",
         base,
         {{"supportavc", "NG supportavc=1"}, {"getformat", "OK getformat=1"}},
         0,
         {},
         {1, 1005, 352, 288, 30000, 1, 2005}},
        {"AVC support 2 is not support",
         base,
         {{"supportavc", "OK supportavc=2"}, {"getformat", "OK getformat=1"}},
         0,
         {},
         {1, 1005, 352, 288, 30000, 1, 2005}},
        {"format not supported",
         base,
         {{"supportavc", "NS supportavc"}, {"getformat", "NS getformat"}},
         0,
         {},
         {1, 0, 0, 0, 30000, 1, 2005}},
        {"format refused", base, {{"getformat", "UA getformat=1"}}, 0, {}, {1, 0, 0, 0, 30000, 1, 2005}},
        {"PAL camera", base, {{"videomode", "OK videomode=1"}}, 0, {}, {1, 1000, 640, 480, 25000, 1, 2005}},
        {"video mode 3 is PAL too",
         base,
         {{"videomode", "OK videomode=3"}},
         0,
         {},
         {1, 1000, 640, 480, 25000, 1, 2005}},
        {"audio disabled",
         base,
         {{"getaudioenable", "OK getaudioenable=0"}},
         0,
         {},
         {1, 1000, 640, 480, 30000, 0, 2005}},
        {"audio 2 is not 1",
         base,
         {{"getaudioenable", "OK getaudioenable=2"}},
         0,
         {},
         {1, 1000, 640, 480, 30000, 0, 2005}},
        {"first request not answered", base, {}, 0, {0}, {0, 0, 0, 0, 0, 0, 2005}},
        {"second request not answered", base, {}, 0, {1}, {0, 0, 0, 0, 0, 0, 2005}},
        {"a camera that answers nothing at all", {}, {}, 0, {}, {1, 0, 0, 0, 30000, 0, 2005}},
    };
    for (const SDefaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        rig.device.mLines = c.lines;
        for (const auto& change : c.changes)
            rig.device.mLines[change.first] = change.second;
        rig.device.mRefuseRequests = c.refused;
        CProfileQueryDialect profile(4608);
        profile.mChannel = 1;
        CMediaObj params;
        params.mVideoFormat = c.hostCodec;
        ExpectOutcome(profile, profile.SetUp(&rig.link, &rig.url, &params), c.expected);
        std::vector<std::string> expectedRequests = {kFirstBatchCh1, kSecondBatch};
        if (c.refused == std::vector<int>{0})
            expectedRequests.pop_back();
        EXPECT_EQ(rig.client.mRequests, expectedRequests);
        // The host's wish is not changed by this set-up.
        EXPECT_EQ(params.mVideoFormat, c.hostCodec);
        EXPECT_EQ(profile.mLayoutSupport, 1);
    }
}

TEST(CProfileQueryDialectTest, DefaultSetUpFilesRepliesInAnyOrderAndSplitAnywhere) {
    // The camera answers the first batch backwards, with junk between the
    // lines, and the body arrives one byte per read.
    SRig rig;
    rig.client.mMaxPiece = 1;
    rig.device.mPaths[kFirstBatchCh1] =
        CFakeHttpClient::Ok("OK getavcysize=720\r\nOK getavcxsize=1280\r\n<br>\r\nOK getmpeg4ysize=288\r\n"
                            "OK getmpeg4xsize=352\r\nOK getjpegysize=480\r\n\r\nOK getjpegxsize=640\r\n"
                            "OK getformat=1\r\nOK supportavc=0\r\n");
    rig.device.mPaths[kSecondBatch] = CFakeHttpClient::Ok("OK videomode=1\nOK getaudioenable=1\n");
    CProfileQueryDialect profile(4608);
    profile.mChannel = 1;
    CMediaObj params;
    ExpectOutcome(profile, profile.SetUp(&rig.link, &rig.url, &params), {1, 1005, 352, 288, 25000, 1, 2005});
}

TEST(CProfileQueryDialectTest, ChannelOfTheSizeKeys) {
    struct SCase {
        int32_t machineCode;
        int32_t channel;
        int32_t channelAfter;
        const char* firstRequest;
        const char* streamPath;
    };
    const SCase cases[] = {
        // This model's channel 0 is channel 1.
        {4752, 0, 1, kFirstBatchCh1, "/ipcam/sjpeg.cgi?language=1&ch=1"},
        {4752, 1, 1, kFirstBatchCh1, "/ipcam/sjpeg.cgi?language=1&ch=1"},
        {4608, 0, 0,
         "/vb.htm?supportavc&getformat&getjpegxsize&getjpegysize&getmpeg4xsize&getmpeg4ysize&getavcxsize&"
         "getavcysize",
         "/ipcam/sjpeg.cgi?language=1"},
        {4608, 2, 2,
         "/vb.htm?supportavc&getformat&getjpegxsize=2&getjpegysize=2&getmpeg4xsize&getmpeg4ysize&getavcxsize&"
         "getavcysize",
         "/ipcam/sjpeg.cgi?language=1&ch=2"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.machineCode) + " channel " + std::to_string(c.channel));
        SRig rig;
        rig.device.mLines["getformat"] = "OK getformat=0";
        CProfileQueryDialect profile(c.machineCode);
        profile.mChannel = c.channel;
        EXPECT_EQ(profile.SetUp(&rig.link, &rig.url, nullptr), 1);
        EXPECT_EQ(profile.mChannel, c.channelAfter);
        ASSERT_EQ(rig.client.mRequests.size(), 2u);
        EXPECT_EQ(rig.client.mRequests[0], c.firstRequest);
        std::string path;
        EXPECT_EQ(profile.ComposeStreamPath(path), 1);
        EXPECT_EQ(path, c.streamPath);
    }
}

const char* const kProfileBase = "/ipcam/multiprofile.cgi?nowprofileid=2";

struct SProfileCase {
    const char* name;
    int32_t machineCode;
    std::map<std::string, CFakeHttpClient::SAnswer>
        answers;        // by the part after the profile id; absent: refused
    std::string vbBody; // answer to the video mode and audio query
    SOutcome expected;
    int32_t profileAfter;
    int32_t hostCodecAfter;
};

TEST(CProfileQueryDialectTest, ProfileSetUp) {
    using F = CFakeHttpClient;
    const std::map<std::string, F::SAnswer> good = {
        {"&streamvalid", F::Ok("OK streamvalid=1\r\n")},
        {"&getformat", F::Ok("OK getformat=2\r\n")},
        {"&getxsize", F::Ok("OK getxsize=1280\r\n")},
        {"&getysize", F::Ok("OK getysize=720\r\n")},
    };
    auto with = [&good](const std::string& key, const F::SAnswer& answer) {
        auto answers = good;
        answers[key] = answer;
        return answers;
    };
    auto without = [&good](const std::string& key) {
        auto answers = good;
        answers.erase(key);
        return answers;
    };
    const std::string pal = "OK videomode=1\r\nOK getaudioenable=1\r\n";
    const std::string ntsc = "OK videomode=0\r\nOK getaudioenable=0\r\n";
    const SProfileCase cases[] = {
        {"valid H.264 profile", 5751, good, pal, {1, 1010, 1280, 720, 25000, 1, 2005}, 2, 1010},
        {"G.726 model", 8192, good, ntsc, {1, 1010, 1280, 720, 30000, 0, 2020}, 2, 1010},
        {"format 1 is MPEG-4",
         6002,
         with("&getformat", F::Ok("OK getformat=1")),
         ntsc,
         {1, 1005, 1280, 720, 30000, 0, 2005},
         2,
         1005},
        {"format 0 is JPEG",
         6002,
         with("&getformat", F::Ok("OK getformat=0")),
         ntsc,
         {1, 1000, 1280, 720, 30000, 0, 2005},
         2,
         1000},
        {"format 7 is JPEG",
         6002,
         with("&getformat", F::Ok("OK getformat=7")),
         ntsc,
         {1, 1000, 1280, 720, 30000, 0, 2005},
         2,
         1000},
        {"invalid profile: 0 at the value",
         5753,
         with("&streamvalid", F::Ok("OK streamvalid=0\r\n")),
         pal,
         {0, 0, 0, 0, 25000, 1, 2005},
         0,
         555},
        {"invalid profile: not OK",
         5761,
         with("&streamvalid", F::Ok("NG streamvalid=1\r\n")),
         ntsc,
         {0, 0, 0, 0, 30000, 0, 2005},
         0,
         555},
        {"invalid G.726 profile still sets its audio codec",
         8192,
         with("&streamvalid", F::Ok("OK streamvalid=0")),
         ntsc,
         {0, 0, 0, 0, 30000, 0, 2020},
         0,
         555},
        {"a short validity answer is not a refusal",
         5763,
         with("&streamvalid", F::Ok("OK streamvalid")),
         ntsc,
         {1, 1010, 1280, 720, 30000, 0, 2005},
         2,
         1010},
        {"no validity answer is not a refusal",
         6003,
         without("&streamvalid"),
         ntsc,
         {1, 1010, 1280, 720, 30000, 0, 2005},
         2,
         1010},
        {"format not answered", 6004, without("&getformat"), ntsc, {1, 0, 1280, 720, 30000, 0, 2005}, 2, 555},
        {"format refused",
         6004,
         with("&getformat", F::Ok("NG getformat=1")),
         ntsc,
         {1, 0, 1280, 720, 30000, 0, 2005},
         2,
         555},
        {"format answer too short",
         6004,
         with("&getformat", F::Ok("OK getformat=")),
         ntsc,
         {1, 0, 1280, 720, 30000, 0, 2005},
         2,
         555},
        {"sizes not answered", 8193, without("&getxsize"), ntsc, {1, 1010, 0, 720, 30000, 0, 2005}, 2, 1010},
        {"size without =",
         8193,
         with("&getysize", F::Ok("OK getysize 720\r\n")),
         ntsc,
         {1, 1010, 1280, 0, 30000, 0, 2005},
         2,
         1010},
        {"size refused",
         8448,
         with("&getxsize", F::Ok("NS getxsize=1280\r\n")),
         ntsc,
         {1, 1010, 0, 720, 30000, 0, 2005},
         2,
         1010},
        {"size answer too short",
         8448,
         with("&getysize", F::Ok("OK getysize=")),
         ntsc,
         {1, 1010, 1280, 0, 30000, 0, 2005},
         2,
         1010},
        {"video mode and audio not answered", 5751, good, "", {1, 1010, 1280, 720, 30000, 0, 2005}, 2, 1010},
    };
    for (const SProfileCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        for (const auto& answer : c.answers)
            rig.device.mPaths[kProfileBase + answer.first] = answer.second;
        rig.device.mPaths["/vb.htm?videomode&getaudioenable"] = F::Ok(c.vbBody);
        CProfileQueryDialect profile(c.machineCode);
        profile.mChannel = 1;
        CMediaObj params;
        params.mProfileId = 2;
        params.mVideoFormat = 555;
        ExpectOutcome(profile, profile.SetUp(&rig.link, &rig.url, &params), c.expected);
        EXPECT_EQ(profile.mProfileId, c.profileAfter);
        EXPECT_EQ(params.mVideoFormat, c.hostCodecAfter);
        std::vector<std::string> expected = {std::string(kProfileBase) + "&streamvalid"};
        if (c.expected.result == 1) {
            for (const char* key : {"&getformat", "&getxsize", "&getysize"})
                expected.push_back(std::string(kProfileBase) + key);
        }
        // Frame rate and audio are asked for whether the profile is valid or not.
        expected.push_back("/vb.htm?videomode&getaudioenable");
        EXPECT_EQ(rig.client.mRequests, expected);
    }
}

TEST(CProfileQueryDialectTest, ProfileSetUpWithoutHostWishesAsksForProfileZero) {
    SRig rig;
    CProfileQueryDialect profile(5751);
    EXPECT_EQ(profile.SetUp(&rig.link, &rig.url, nullptr), 1);
    const std::vector<std::string> expected = {
        "/ipcam/multiprofile.cgi?nowprofileid=0&streamvalid",
        "/ipcam/multiprofile.cgi?nowprofileid=0&getformat", "/ipcam/multiprofile.cgi?nowprofileid=0&getxsize",
        "/ipcam/multiprofile.cgi?nowprofileid=0&getysize", "/vb.htm?videomode&getaudioenable"};
    EXPECT_EQ(rig.client.mRequests, expected);
    // Profile 0 composes no stream.
    std::string path = "none";
    EXPECT_EQ(profile.ComposeStreamPath(path), 0);
}

TEST(CProfileQueryDialectTest, FixedSetUpTakesTheHostsValuesWithoutAsking) {
    struct SCase {
        const char* name;
        bool withParams;
        int32_t codec, width, height, profile;
        SOutcome expected;
        int32_t profileAfter;
        const char* path;
    };
    const SCase cases[] = {
        {"H.264 profile 2",
         true,
         1010,
         640,
         480,
         2,
         {1, 1010, 640, 480, 30000, 1, 2005},
         2,
         "/ipcam/avccif.cgi?language=1&ch=1"},
        {"no codec wish means JPEG",
         true,
         0,
         1280,
         960,
         0,
         {1, 1000, 1280, 960, 30000, 1, 2005},
         0,
         "/ipcam/mjpeg.cgi?language=1&ch=1"},
        {"MPEG-4 main",
         true,
         1005,
         320,
         240,
         0,
         {1, 1005, 320, 240, 30000, 1, 2005},
         0,
         "/ipcam/mpeg4.cgi?language=1&ch=1"},
        {"no parameter object",
         false,
         0,
         0,
         0,
         0,
         {1, 1000, 0, 0, 30000, 1, 2005},
         0,
         "/ipcam/mjpeg.cgi?language=1&ch=1"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig;
        CProfileQueryDialect profile(36865);
        profile.mChannel = 1;
        CMediaObj params;
        params.mVideoFormat = c.codec;
        params.mWidth = c.width;
        params.mHeight = c.height;
        params.mProfileId = c.profile;
        ExpectOutcome(profile, profile.SetUp(&rig.link, &rig.url, c.withParams ? &params : nullptr),
                      c.expected);
        EXPECT_EQ(profile.mProfileId, c.profileAfter);
        EXPECT_TRUE(rig.client.mRequests.empty());
        std::string path;
        EXPECT_EQ(profile.ComposeStreamPath(path), 1);
        EXPECT_EQ(path, c.path);
    }
}

} // namespace
