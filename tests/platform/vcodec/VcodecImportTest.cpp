// The import library that loads libvcodec.so on first use: nothing is mapped
// before a decoder is made, the decoder then works as the library's own, and a
// library that cannot be loaded turns every call into a failure, not a crash.
// This binary links vcodec_import only, never libvcodec itself.
#include "TestMedia.h"
#include "ipcamview/vcodec.h"
#include "platform/Trace.h"

#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace {

using ipcam::test::Bytes;

bool VcodecMapped() {
    void* module = dlopen("libvcodec.so", RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr)
        return false;
    dlclose(module);
    return true;
}

// The first decoder loads the library; the picture is checked for its size
// only, since the decoder's own tests compare pictures with ffmpeg's.
int LoadOnFirstDecoder() {
    if (VcodecMapped())
        return 10;
    // Releasing a handle that no loaded library can have made loads nothing.
    if (ReleaseCodec(3) != 0 || VcodecMapped())
        return 11;
    ipcam::test::TempDir dir("vcodec-import");
    if (ipcam::test::Generate(64, 48, 1, "-f mjpeg '" + dir.File("p.jpg") + "'") != 0)
        return 12;
    Bytes jpeg = ipcam::test::ReadFile(dir.File("p.jpg"));
    int32_t handle = CreateCodec(VCODEC_FORMAT_JPEG, VCODEC_PIXEL_BGR24, 64, -48, 25);
    if (handle < 0 || !VcodecMapped())
        return 13;
    Bytes picture(ipcam::test::PictureSize(VCODEC_PIXEL_BGR24, 64, 48));
    int32_t length = static_cast<int32_t>(jpeg.size());
    int32_t size = static_cast<int32_t>(picture.size());
    if (Decode(handle, jpeg.data(), &length, picture.data(), &size) == 0 || size != 64 * 3 * 48)
        return 14;
    if (ReleaseCodec(handle) != 1 || ReleaseCodec(handle) != 0)
        return 15;
    return 0;
}

// With `library` unloadable every call fails and the reason, `traced`, is
// traced once however many calls fail.
int FailWithout(const char* library, const char* expectedTrace) {
    std::string traced;
    media_util::SetTraceSink([](const char* text, void* to) { static_cast<std::string*>(to)->append(text); },
                             &traced);
    setenv("IPCAM_VCODEC_LIBRARY", library, 1);
    uint8_t in[4] = {0xFF, 0xD8, 0xFF, 0xD9};
    uint8_t out[16];
    int32_t length = 4, size = 16;
    if (CreateCodec(VCODEC_FORMAT_JPEG, 32, 16, 16, 25) != -1 || Decode(0, in, &length, out, &size) != 0 ||
        ReleaseCodec(0) != 0 || CreateCodec(VCODEC_FORMAT_JPEG, 32, 16, 16, 25) != -1)
        return 20;
    if (traced.find(expectedTrace) != 0 || traced.find("vcodec:", 1) != std::string::npos)
        return 21;
    return 0;
}

// Each case runs in a fresh process (threadsafe death tests re-run the binary),
// so the once-only load starts from nothing whatever ran before.
TEST(VcodecImportTest, LoadsOnFirstDecoderAndDecodesThroughIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(LoadOnFirstDecoder()), ::testing::ExitedWithCode(0), "");
}

TEST(VcodecImportTest, UnloadableLibraryFailsEveryCallAndSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* mLibrary;
        const char* mTraced;
    };
    const Case cases[] = {
        {"/nonexistent/libvcodec.so", "vcodec: cannot load /nonexistent/libvcodec.so"},
        {"libm.so.6", "vcodec: libm.so.6 lacks a decoder function"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mLibrary);
        EXPECT_EXIT(std::exit(FailWithout(c.mLibrary, c.mTraced)), ::testing::ExitedWithCode(0), "");
    }
}

} // namespace
