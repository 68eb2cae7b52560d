// The audio capture set-up against ALSA configurations written by the tests
// (null and file PCMs, never a sound device): the probe formats and what a
// device's answers make of them, the chosen format's buffer and notification
// points, the process-wide choice of device, the failures, the wait cursor.
#include "os/dsound/AlsaTestConfig.h"

#include "audio/CAudioCapture.h"
#include "os/window/Window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <tuple>

namespace {

using alsatest::CAlsaTestConfig;
using alsatest::PcmKind;
using alsatest::SPcm;

class CAudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { CAudioCapture::ForgetProcessDeviceForTest(); }
    void TearDown() override { CAudioCapture::ForgetProcessDeviceForTest(); }
};

GUID GuidOf(const std::string& name) {
    return os::dsound::DeviceGuidFromName(name);
}

// The table is every combination of five rates, two sample widths and two
// channel counts, rates from the highest down, each rate's four formats
// mono before stereo and 8 bits before 16; each one a consistent PCM format.
TEST_F(CAudioCaptureTest, ProbeFormatsCoverEveryRateWidthAndChannelCountOnce) {
    std::set<std::tuple<uint32_t, uint16_t, uint16_t>> seen;
    for (int i = 0; i < CAudioCapture::kProbeFormatCount; ++i) {
        SCOPED_TRACE(i);
        const WAVEFORMATEX f = CAudioCapture::ProbeFormat(i);
        EXPECT_EQ(WAVE_FORMAT_PCM, f.wFormatTag);
        EXPECT_EQ(f.wBitsPerSample / 8 * f.nChannels, f.nBlockAlign);
        EXPECT_EQ(f.nSamplesPerSec * f.nBlockAlign, f.nAvgBytesPerSec);
        EXPECT_TRUE(seen.insert({f.nSamplesPerSec, f.wBitsPerSample, f.nChannels}).second);
        if (i > 0) {
            const WAVEFORMATEX before = CAudioCapture::ProbeFormat(i - 1);
            EXPECT_LE(f.nSamplesPerSec, before.nSamplesPerSec);
            if (f.nSamplesPerSec == before.nSamplesPerSec) {
                EXPECT_LE(std::make_tuple(before.nChannels, before.wBitsPerSample),
                          std::make_tuple(f.nChannels, f.wBitsPerSample));
            }
        }
    }
    std::set<std::tuple<uint32_t, uint16_t, uint16_t>> expected;
    for (uint32_t rate : {48000u, 44100u, 22050u, 11025u, 8000u})
        for (uint16_t bits : {8, 16})
            for (uint16_t channels : {1, 2})
                expected.insert({rate, bits, channels});
    EXPECT_EQ(expected, seen);
    const WAVEFORMATEX chosen = CAudioCapture::ProbeFormat(CAudioCapture::kCaptureFormatIndex);
    EXPECT_EQ(std::make_tuple(8000u, 16, 1, 2, 16000u),
              std::make_tuple(chosen.nSamplesPerSec, chosen.wBitsPerSample, chosen.nChannels,
                              chosen.nBlockAlign, chosen.nAvgBytesPerSec));
}

// One eighth of a second in whole blocks, or 1024 bytes below 8192 bytes a
// second.
TEST_F(CAudioCaptureTest, ChunksAreAnEighthOfASecondInWholeBlocks) {
    struct Case {
        uint32_t rate;
        uint16_t bits, channels;
        DWORD chunk;
    };
    const Case cases[] = {
        {8000, 16, 1, 2000},                        // the capture format: 125 ms
        {8000, 8, 1, 1024},                         // 8000 bytes a second: below the limit
        {8000, 8, 2, 2000},                         // 16000
        {11025, 8, 1, 1378},                        // 11025 / 8 = 1378.1
        {11025, 16, 1, 2756},                       // 22050 / 8 = 2756.25, even
        {11025, 16, 2, 5512},                       // 44100 / 8, a multiple of 4
        {22050, 16, 2, 11024},                      // 88200 / 8 = 11025, cut to 4-byte blocks
        {48000, 16, 2, 24000}, {4096, 16, 1, 1024}, // 8192 bytes a second: not below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.bits) + "/" +
                     std::to_string(c.channels));
        WAVEFORMATEX f{};
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nSamplesPerSec = c.rate;
        f.wBitsPerSample = c.bits;
        f.nChannels = c.channels;
        f.nBlockAlign = static_cast<WORD>(c.bits / 8 * c.channels);
        f.nAvgBytesPerSec = c.rate * f.nBlockAlign;
        EXPECT_EQ(c.chunk, CAudioCapture::ChunkSizeFor(f));
    }
}

// Which probe formats a device takes is what the device says about each,
// whatever kind of PCM it is.
TEST_F(CAudioCaptureTest, SupportTableIsTheDevicesAnswerPerProbeFormat) {
    struct Case {
        PcmKind kind;
        uint16_t takesChannels; // 0: any
    };
    const Case cases[] = {{PcmKind::kNull, 0}, {PcmKind::kFile, 0}, {PcmKind::kMonoOnly, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        CAudioCapture::ForgetProcessDeviceForTest();
        CAlsaTestConfig config({{"default"}, {"mic", c.kind}});
        CAudioCapture capture;
        ASSERT_EQ(S_OK, capture.Prepare());
        for (int i = 0; i < CAudioCapture::kProbeFormatCount; ++i) {
            const WAVEFORMATEX f = CAudioCapture::ProbeFormat(i);
            EXPECT_EQ(c.takesChannels == 0 || c.takesChannels == f.nChannels,
                      capture.mFormatSupported[i] == 1)
                << "format " << i;
        }
    }
}

TEST_F(CAudioCaptureTest, PreparesAStoppedTwoSecondBufferWithSixteenNotifications) {
    CAlsaTestConfig config({{"default"}, {"mic", PcmKind::kFile}});
    CAudioCapture capture;
    ASSERT_EQ(S_OK, capture.Prepare());
    EXPECT_EQ(GuidOf("mic"), capture.mDeviceGuid);
    ASSERT_NE(nullptr, capture.mpCaptureBuffer);
    ASSERT_NE(nullptr, capture.mpNotify);
    EXPECT_EQ(0u, capture.mNextReadOffset);

    // What the buffer itself says it is.
    DSCBCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(DS_OK, capture.mpCaptureBuffer->GetCaps(&caps));
    const WAVEFORMATEX chosen = CAudioCapture::ProbeFormat(CAudioCapture::kCaptureFormatIndex);
    EXPECT_EQ(2 * chosen.nAvgBytesPerSec, caps.dwBufferBytes) << "two seconds";
    EXPECT_EQ(caps.dwBufferBytes, capture.mBufferSize);
    WAVEFORMATEX format{};
    ASSERT_EQ(DS_OK, capture.mpCaptureBuffer->GetFormat(&format, sizeof format, nullptr));
    EXPECT_EQ(0, std::memcmp(&chosen, &format, sizeof format));

    // A notification at the last byte of each eighth of a second.
    EXPECT_EQ(chosen.nAvgBytesPerSec / 8, capture.mChunkSize);
    for (int k = 0; k < CAudioCapture::kNotificationCount; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ((k + 1) * chosen.nAvgBytesPerSec / 8 - 1, capture.mNotifyPositions[k].dwOffset);
        EXPECT_EQ(capture.m_hNotifyEvent, capture.mNotifyPositions[k].hEventNotify);
    }
    EXPECT_EQ(caps.dwBufferBytes - 1,
              capture.mNotifyPositions[CAudioCapture::kNotificationCount - 1].dwOffset);
    EXPECT_NE(nullptr, capture.m_hNotifyEvent);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(capture.m_hNotifyEvent, 0))
        << "nothing is captured, nothing is signalled";
}

// The first device with an identity is the process's, for every viewer after
// it, even when the devices are listed in another order later; the primary
// device never is.
TEST_F(CAudioCaptureTest, FirstDeviceWithAnIdentityWinsOncePerProcess) {
    {
        CAlsaTestConfig config({{"default"}, {"mic_a"}, {"mic_b", PcmKind::kFile}});
        CAudioCapture first, second;
        ASSERT_EQ(S_OK, first.Prepare());
        ASSERT_EQ(S_OK, second.Prepare());
        EXPECT_EQ(GuidOf("mic_a"), first.mDeviceGuid);
        EXPECT_EQ(GuidOf("mic_a"), second.mDeviceGuid);
    }
    {
        CAlsaTestConfig config({{"mic_b", PcmKind::kFile}, {"default"}, {"mic_a"}});
        CAudioCapture later;
        EXPECT_EQ(S_OK, later.Prepare());
        EXPECT_EQ(GuidOf("mic_a"), later.mDeviceGuid) << "chosen once per process";
        CAudioCapture::ForgetProcessDeviceForTest();
        CAudioCapture afresh;
        EXPECT_EQ(S_OK, afresh.Prepare());
        EXPECT_EQ(GuidOf("mic_b"), afresh.mDeviceGuid);
    }
    {
        // Chosen, then gone: the process keeps it, and its viewers have no
        // capture.
        CAlsaTestConfig config({{"default"}, {"mic_a"}});
        CAudioCapture gone;
        EXPECT_EQ(DSERR_NODRIVER, gone.Prepare());
        EXPECT_EQ(GuidOf("mic_b"), gone.mDeviceGuid);
    }
}

// Viewers constructed at once on several threads (several Starts of a host)
// agree on the process's device.
TEST_F(CAudioCaptureTest, ViewersMadeAtOnceAgreeOnTheDevice) {
    CAlsaTestConfig config({{"default"}, {"mic_a"}, {"mic_b", PcmKind::kFile}});
    constexpr int kThreads = 4;
    HRESULT results[kThreads];
    GUID devices[kThreads];
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            CAudioCapture capture;
            results[i] = capture.Prepare();
            devices[i] = capture.mDeviceGuid;
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(S_OK, results[i]);
        EXPECT_EQ(GuidOf("mic_a"), devices[i]);
    }
}

TEST_F(CAudioCaptureTest, WithoutAUsableDeviceTheFirstFailureIsReturned) {
    struct Case {
        const char* what;
        bool configured;
        std::vector<SPcm> pcms;
        HRESULT expected;
        bool probed; // the device was opened and asked about the probe formats
    };
    const Case cases[] = {
        {"no capture device at all", true, {}, DSERR_NODRIVER, false},
        {"no configuration", false, {}, DSERR_NODRIVER, false},
        {"no sound card", true, {{"default", PcmKind::kNoCard}}, DSERR_NODRIVER, false},
        {"only the primary device, which is not there",
         true,
         {{"default", PcmKind::kMissingFile}},
         DSERR_NODRIVER,
         false},
        {"the first device does not open",
         true,
         {{"default"}, {"broken", PcmKind::kMissingFile}, {"mic"}},
         DSERR_NODRIVER,
         false},
        {"the device hangs", true, {{"stuck", PcmKind::kHanging}, {"mic"}}, DSERR_ALLOCATED, false},
        {"the device takes no mono", true, {{"stereo", PcmKind::kStereoOnly}}, DSERR_BADFORMAT, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAudioCapture::ForgetProcessDeviceForTest();
        CAlsaTestConfig config = c.configured ? CAlsaTestConfig(c.pcms) : CAlsaTestConfig::Missing();
        CAudioCapture capture;
        EXPECT_EQ(c.expected, capture.Prepare());
        EXPECT_EQ(nullptr, capture.mpCaptureBuffer);
        EXPECT_EQ(nullptr, capture.mpNotify);
        int supported = 0;
        for (int32_t flag : capture.mFormatSupported)
            supported += flag;
        EXPECT_EQ(c.probed, supported > 0);
        config.ReleaseHangingOpens();
        EXPECT_TRUE(os::dsound::WaitForHangingOpens(10000));
    }
}

// The wait cursor is shown while the device is probed and the cursor found
// before is put back; without a device nothing is probed and the cursor is
// left alone.
TEST_F(CAudioCaptureTest, WaitCursorCoversTheProbingOnly) {
    const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    ASSERT_NE(nullptr, wait);
    const HCURSOR hand = LoadCursorA(nullptr, IDC_HAND);
    struct Case {
        std::vector<SPcm> pcms;
        uint64_t waitShown;
    };
    const Case cases[] = {{{{"default"}, {"mic"}}, 1}, {{}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pcms.size());
        CAudioCapture::ForgetProcessDeviceForTest();
        CAlsaTestConfig config(c.pcms);
        const HCURSOR before = SetCursor(hand);
        const uint64_t shown = os::CursorSetCount(wait);
        const uint64_t handSet = os::CursorSetCount(hand);
        CAudioCapture capture;
        capture.Prepare();
        EXPECT_EQ(c.waitShown, os::CursorSetCount(wait) - shown);
        EXPECT_EQ(c.waitShown, os::CursorSetCount(hand) - handSet) << "put back as often as replaced";
        EXPECT_EQ(hand, GetCursor());
        SetCursor(before);
    }
}

} // namespace
