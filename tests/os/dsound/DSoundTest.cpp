// The capture layer against ALSA configurations written by the tests (null and
// file PCMs only, never a sound device): what enumeration lists and in which
// order, identities, opening devices that are there, missing, unconfigured or
// hanging, and what capture buffers and their notifications accept.
#include "os/dsound/AlsaTestConfig.h"

#include "os/dsound/DSound.h"

#include <gtest/gtest.h>

#include <cstring>

#include <set>
#include <string>
#include <vector>

namespace {

using alsatest::CAlsaTestConfig;
using alsatest::PcmKind;
using alsatest::SPcm;

struct SListed {
    bool hasGuid;
    GUID guid;
    std::string description;
    std::string module;
};

BOOL Collect(LPGUID guid, const char* description, const char* module, void* context) {
    static_cast<std::vector<SListed>*>(context)->push_back(
        {guid != nullptr, guid != nullptr ? *guid : GUID{}, description, module});
    return TRUE;
}

std::vector<SListed> Enumerate() {
    std::vector<SListed> listed;
    EXPECT_EQ(DS_OK, DirectSoundCaptureEnumerateA(Collect, &listed));
    return listed;
}

std::vector<std::string> Modules(const std::vector<SListed>& listed) {
    std::vector<std::string> modules;
    for (const SListed& l : listed)
        modules.push_back(l.module);
    return modules;
}

WAVEFORMATEX Pcm(uint32_t rate, uint16_t bits, uint16_t channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

DSCBUFFERDESC Describe(WAVEFORMATEX* format, DWORD bytes) {
    DSCBUFFERDESC desc{};
    desc.dwSize = kDscBufferDescSize;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = format;
    return desc;
}

// Opens the device of the ALSA name `module` as a viewer would find it.
HRESULT Open(const std::string& module, IDirectSoundCapture** capture) {
    if (module == os::dsound::kPrimaryDeviceName)
        return DirectSoundCaptureCreate(nullptr, capture, nullptr);
    const GUID guid = os::dsound::DeviceGuidFromName(module);
    return DirectSoundCaptureCreate(&guid, capture, nullptr);
}

// Every pair of a case and a way of listing.
template <typename Case, typename Listing, size_t N, size_t M>
std::vector<std::pair<const Case&, Listing>> Combine(const Case (&cases)[N], const Listing (&listings)[M]) {
    std::vector<std::pair<const Case&, Listing>> pairs;
    for (const Case& c : cases)
        for (Listing l : listings)
            pairs.emplace_back(c, l);
    return pairs;
}

// ALSA's device hints and the reading of the configuration alone list the
// same PCMs in the same order.
TEST(DSoundTest, EnumerationListsCapturePcmsPrimaryFirstWithoutTheDiscardDevice) {
    struct Case {
        const char* what;
        std::vector<SPcm> pcms;
        std::vector<std::string> modules; // in the order enumeration reports them
    };
    const Case cases[] = {
        {"default defined after others still comes first",
         {{"mic_a"}, {"default"}, {"mic_b", PcmKind::kFile}},
         {"default", "mic_a", "mic_b"}},
        {"ALSA's null and unlisted PCMs are left out",
         {{"null"}, {"mic_a"}, {"quiet", PcmKind::kNull, false}, {"mic_b", PcmKind::kMonoOnly}},
         {"mic_a", "mic_b"}},
        {"without a default PCM there is no primary entry", {{"mic_b"}, {"mic_a"}}, {"mic_b", "mic_a"}},
        {"a default on a sound card that is not there is not listed",
         {{"default", PcmKind::kNoCard}, {"mic_a"}},
         {"mic_a"}},
        {"templates taking arguments are not devices", {{"mic_a"}, {"tmpl", PcmKind::kTemplate}}, {"mic_a"}},
        {"a hint that says not to show", {{"mic_a"}, {"shy", PcmKind::kNull, true, "", "off"}}, {"mic_a"}},
        {"no PCM at all", {}, {}},
    };
    const os::dsound::DeviceListing listings[] = {os::dsound::DeviceListing::kAlsaHints,
                                                  os::dsound::DeviceListing::kConfiguration,
                                                  os::dsound::DeviceListing::kAuto};
    for (const auto& [c, listing] : Combine(cases, listings)) {
        SCOPED_TRACE(c.what);
        SCOPED_TRACE("listing " + std::to_string(static_cast<int>(listing)));
        CAlsaTestConfig config(c.pcms);
        const os::dsound::DeviceListing previous = os::dsound::SetDeviceListingForTest(listing);
        const std::vector<SListed> listed = Enumerate();
        os::dsound::SetDeviceListingForTest(previous);
        EXPECT_EQ(c.modules, Modules(listed));
        for (const SListed& l : listed) {
            SCOPED_TRACE(l.module);
            const bool primary = l.module == os::dsound::kPrimaryDeviceName;
            EXPECT_EQ(!primary, l.hasGuid);
            if (primary) {
                EXPECT_EQ(os::dsound::kPrimaryDescription, l.description);
            }
        }
    }
}

// An identity belongs to the PCM's name: the same in another order, beside
// other PCMs, and in a configuration read again; different names differ.
TEST(DSoundTest, IdentitiesFollowTheNameNotThePosition) {
    std::vector<SListed> first, second;
    {
        CAlsaTestConfig config({{"default"}, {"mic_a"}, {"mic_b", PcmKind::kFile}, {"mic_c"}});
        first = Enumerate();
    }
    {
        CAlsaTestConfig config({{"mic_c"}, {"extra"}, {"mic_b", PcmKind::kFile}, {"mic_a"}});
        second = Enumerate();
    }
    ASSERT_EQ(4u, first.size());
    ASSERT_EQ(4u, second.size());
    std::set<std::string> distinct;
    for (const SListed& a : first) {
        if (!a.hasGuid)
            continue;
        EXPECT_NE(GUID_NULL, a.guid);
        EXPECT_EQ(0x8, a.guid.Data3 >> 12) << a.module << ": a name-based identity of our own kind";
        EXPECT_EQ(0x80, a.guid.Data4[0] & 0xC0) << a.module;
        distinct.insert(os::dshow::GuidToString(a.guid));
        bool found = false;
        for (const SListed& b : second) {
            if (b.module == a.module) {
                found = true;
                EXPECT_EQ(a.guid, b.guid) << a.module;
            }
        }
        EXPECT_TRUE(found) << a.module;
    }
    EXPECT_EQ(3u, distinct.size());
}

TEST(DSoundTest, EnumerationStopsWhenTheCallbackSaysSo) {
    CAlsaTestConfig config({{"default"}, {"mic_a"}, {"mic_b"}});
    int calls = 0;
    auto once = [](LPGUID, const char*, const char*, void* context) -> BOOL {
        ++*static_cast<int*>(context);
        return FALSE;
    };
    EXPECT_EQ(DS_OK, DirectSoundCaptureEnumerateA(once, &calls));
    EXPECT_EQ(1, calls);
    EXPECT_EQ(DSERR_INVALIDPARAM, DirectSoundCaptureEnumerateA(nullptr, nullptr));
}

TEST(DSoundTest, OpeningADeviceTellsWhetherItIsThere) {
    struct Case {
        const char* what;
        bool configured;
        std::vector<SPcm> pcms;
        std::string module; // what is opened; "" for an identity nobody named
        HRESULT expected;
    };
    const Case cases[] = {
        {"the primary device", true, {{"default"}}, "default", DS_OK},
        {"a listed device by identity", true, {{"default"}, {"mic_b", PcmKind::kFile}}, "mic_b", DS_OK},
        {"no default PCM", true, {{"mic_a"}}, "default", DSERR_NODRIVER},
        {"no configuration", false, {}, "default", DSERR_NODRIVER},
        {"no sound card", true, {{"default", PcmKind::kNoCard}}, "default", DSERR_NODRIVER},
        {"the cards' default without a card",
         true,
         {{"default", PcmKind::kCardAlias}},
         "default",
         DSERR_NODRIVER},
        {"a plugin whose file is missing", true, {{"mic_x", PcmKind::kMissingFile}}, "mic_x", DSERR_NODRIVER},
        {"an identity nobody listed", true, {{"default"}, {"mic_a"}}, "", DSERR_NODRIVER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAlsaTestConfig config = c.configured ? CAlsaTestConfig(c.pcms) : CAlsaTestConfig::Missing();
        IDirectSoundCapture* capture = nullptr;
        HRESULT hr;
        if (c.module.empty()) {
            const GUID unknown = os::dsound::DeviceGuidFromName("nobody-named-this");
            hr = DirectSoundCaptureCreate(&unknown, &capture, nullptr);
        } else {
            hr = Open(c.module, &capture);
        }
        EXPECT_EQ(c.expected, hr);
        EXPECT_EQ(SUCCEEDED(hr), capture != nullptr);
        if (capture != nullptr) {
            EXPECT_EQ(0u, capture->Release());
        }
    }
}

TEST(DSoundTest, DevicesAnswerForTheFormatsTheyTake) {
    CAlsaTestConfig config({{"default"},
                            {"mono", PcmKind::kMonoOnly},
                            {"stereo", PcmKind::kStereoOnly},
                            {"file", PcmKind::kFile}});
    struct Case {
        const char* module;
        uint16_t takesChannels; // 0: any
    };
    const Case devices[] = {{"default", 0}, {"mono", 1}, {"stereo", 2}, {"file", 0}};
    for (const Case& d : devices) {
        SCOPED_TRACE(d.module);
        IDirectSoundCapture* capture = nullptr;
        ASSERT_EQ(DS_OK, Open(d.module, &capture));
        for (uint32_t rate : {48000u, 22050u, 8000u}) {
            for (uint16_t bits : {8, 16}) {
                for (uint16_t channels : {1, 2}) {
                    SCOPED_TRACE(std::to_string(rate) + "/" + std::to_string(bits) + "/" +
                                 std::to_string(channels));
                    WAVEFORMATEX format = Pcm(rate, bits, channels);
                    const DSCBUFFERDESC desc = Describe(&format, format.nAvgBytesPerSec);
                    IDirectSoundCaptureBuffer* buffer = nullptr;
                    const HRESULT hr = capture->CreateCaptureBuffer(&desc, &buffer, nullptr);
                    const bool takes = d.takesChannels == 0 || d.takesChannels == channels;
                    EXPECT_EQ(takes ? DS_OK : DSERR_BADFORMAT, hr);
                    EXPECT_EQ(takes, buffer != nullptr);
                    if (buffer != nullptr) {
                        EXPECT_EQ(0u, buffer->Release());
                    }
                }
            }
        }
        EXPECT_EQ(0u, capture->Release());
    }
}

TEST(DSoundTest, MalformedBufferDescriptionsAreRefusedBeforeTheDevice) {
    CAlsaTestConfig config(std::vector<SPcm>{{"default"}});
    IDirectSoundCapture* capture = nullptr;
    ASSERT_EQ(DS_OK, Open("default", &capture));
    struct Case {
        const char* what;
        void (*change)(DSCBUFFERDESC&, WAVEFORMATEX&);
        HRESULT expected;
    };
    const Case cases[] = {
        {"as described", [](DSCBUFFERDESC&, WAVEFORMATEX&) {}, DS_OK},
        {"the first version's size", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwSize = kDscBufferDesc1Size; },
         DS_OK},
        {"this platform's structure size",
         [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwSize = sizeof(DSCBUFFERDESC); }, DSERR_INVALIDPARAM},
        {"an unknown flag", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwFlags = 1; }, DSERR_INVALIDPARAM},
        {"the wave-mapped flag", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwFlags = DSCBCAPS_WAVEMAPPED; },
         DS_OK},
        {"capture effects", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwFXCount = 1; }, DSERR_INVALIDPARAM},
        {"no format", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.lpwfxFormat = nullptr; }, DSERR_INVALIDPARAM},
        {"below the smallest buffer", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwBufferBytes = 2; },
         DSERR_INVALIDPARAM},
        {"above the largest buffer",
         [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwBufferBytes = DSBSIZE_MAX + 2; }, DSERR_INVALIDPARAM},
        {"half a sample block", [](DSCBUFFERDESC& d, WAVEFORMATEX&) { d.dwBufferBytes = 16001; },
         DSERR_INVALIDPARAM},
        {"not PCM", [](DSCBUFFERDESC&, WAVEFORMATEX& f) { f.wFormatTag = 7; }, DSERR_BADFORMAT},
        {"24-bit samples",
         [](DSCBUFFERDESC& d, WAVEFORMATEX& f) {
             f = Pcm(8000, 24, 1);
             d.dwBufferBytes = f.nAvgBytesPerSec;
         },
         DSERR_BADFORMAT},
        {"a block size that does not add up", [](DSCBUFFERDESC&, WAVEFORMATEX& f) { f.nBlockAlign = 4; },
         DSERR_BADFORMAT},
        {"a byte rate that does not add up",
         [](DSCBUFFERDESC&, WAVEFORMATEX& f) { f.nAvgBytesPerSec = 8000; }, DSERR_BADFORMAT},
        {"no channels", [](DSCBUFFERDESC&, WAVEFORMATEX& f) { f.nChannels = 0; }, DSERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WAVEFORMATEX format = Pcm(8000, 16, 1);
        DSCBUFFERDESC desc = Describe(&format, format.nAvgBytesPerSec);
        c.change(desc, format);
        IDirectSoundCaptureBuffer* buffer = nullptr;
        EXPECT_EQ(c.expected, capture->CreateCaptureBuffer(&desc, &buffer, nullptr));
        EXPECT_EQ(c.expected == DS_OK, buffer != nullptr);
        if (buffer != nullptr)
            buffer->Release();
    }
    WAVEFORMATEX format = Pcm(8000, 16, 1);
    const DSCBUFFERDESC desc = Describe(&format, 16000);
    IDirectSoundCaptureBuffer* buffer = nullptr;
    EXPECT_EQ(DSERR_NOAGGREGATION, capture->CreateCaptureBuffer(&desc, &buffer, capture));
    EXPECT_EQ(DSERR_INVALIDPARAM, capture->CreateCaptureBuffer(&desc, nullptr, nullptr));
    capture->Release();
}

TEST(DSoundTest, BufferKeepsItsDescriptionAndNotificationPositionsStayInside) {
    CAlsaTestConfig config(std::vector<SPcm>{{"default"}});
    IDirectSoundCapture* capture = nullptr;
    ASSERT_EQ(DS_OK, Open("default", &capture));
    WAVEFORMATEX format = Pcm(11025, 8, 2);
    const DWORD bytes = 4 * format.nAvgBytesPerSec;
    const DSCBUFFERDESC desc = Describe(&format, bytes);
    IDirectSoundCaptureBuffer* buffer = nullptr;
    ASSERT_EQ(DS_OK, capture->CreateCaptureBuffer(&desc, &buffer, nullptr));
    capture->Release(); // the buffer does not need its device object

    DSCBCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(DS_OK, buffer->GetCaps(&caps));
    EXPECT_EQ(bytes, caps.dwBufferBytes);
    WAVEFORMATEX back{};
    DWORD written = 0;
    ASSERT_EQ(DS_OK, buffer->GetFormat(&back, sizeof back, &written));
    EXPECT_EQ(sizeof(WAVEFORMATEX), written);
    EXPECT_EQ(0, std::memcmp(&format, &back, sizeof back));

    IUnknown* unknown = nullptr;
    EXPECT_EQ(E_NOINTERFACE,
              buffer->QueryInterface(IID_IDirectSoundCapture, reinterpret_cast<void**>(&unknown)));
    IDirectSoundNotify* notify = nullptr;
    ASSERT_EQ(DS_OK, buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)));
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    struct Case {
        const char* what;
        std::vector<DWORD> offsets;
        bool withEvent;
        HRESULT expected;
    };
    const Case cases[] = {
        {"first and last byte", {0, bytes - 1}, true, DS_OK},
        {"one past the end", {0, bytes}, true, DSERR_INVALIDPARAM},
        {"the stop position", {bytes / 2, DSBPN_OFFSETSTOP}, true, DS_OK},
        {"no event", {100}, false, DSERR_INVALIDPARAM},
        {"none", {}, true, DS_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<DSBPOSITIONNOTIFY> positions;
        for (DWORD offset : c.offsets)
            positions.push_back({offset, c.withEvent ? event : nullptr});
        EXPECT_EQ(c.expected,
                  notify->SetNotificationPositions(static_cast<DWORD>(positions.size()),
                                                   positions.empty() ? nullptr : positions.data()));
    }
    EXPECT_EQ(DSERR_INVALIDPARAM, notify->SetNotificationPositions(1, nullptr));
    EXPECT_EQ(DSERR_INVALIDPARAM, notify->SetNotificationPositions(DSBNOTIFICATIONS_MAX + 1, nullptr));
    // The buffer lives while either interface holds it.
    EXPECT_EQ(1u, buffer->Release());
    EXPECT_EQ(0u, notify->Release());
    CloseHandle(event);
}

// A PCM whose open waits (here: the file plugin opening a pipe nobody writes)
// does not hold up the caller; until that open returns, the device is busy
// and nobody waits for it again.
TEST(DSoundTest, AHangingDeviceIsBusyInsteadOfBlocking) {
    CAlsaTestConfig config({{"default"}, {"stuck", PcmKind::kHanging}});
    const int hangingBefore = os::dsound::HangingOpenCount();
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        IDirectSoundCapture* capture = nullptr;
        EXPECT_EQ(DSERR_ALLOCATED, Open("stuck", &capture));
        EXPECT_EQ(nullptr, capture);
        EXPECT_EQ(hangingBefore + 1, os::dsound::HangingOpenCount())
            << "one open hangs, the second did not start";
    }
    IDirectSoundCapture* other = nullptr;
    EXPECT_EQ(DS_OK, Open("default", &other)) << "other devices are not held up";
    if (other != nullptr)
        other->Release();
    config.ReleaseHangingOpens();
    EXPECT_TRUE(os::dsound::WaitForHangingOpens(10000));
    EXPECT_EQ(0, os::dsound::HangingOpenCount());
}

} // namespace
