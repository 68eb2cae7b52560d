#include "platform/CBase64Helper.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "PlatformTestFiles.h"

using media_util::CBase64Helper;

namespace {

// Copies a result block out and frees it, as the HTTP clients do with the
// Basic credential; "<none>" when there is no block.
std::string TakeBlock(int length, HGLOBAL block) {
    if (length == 0 || block == nullptr) {
        EXPECT_EQ(0, length);
        EXPECT_EQ(nullptr, block);
        return "<none>";
    }
    const char* p = static_cast<const char*>(GlobalLock(block));
    std::string out(p, size_t(length));
    EXPECT_EQ('\0', p[length]) << "the block must be NUL-terminated";
    GlobalUnlock(block);
    EXPECT_EQ(nullptr, GlobalFree(block));
    return out;
}

std::string EncodeGlobal(const std::string& data) {
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1); // must be overwritten
    const int n = CBase64Helper::Base64Encoder(data.data(), int(data.size()), &block);
    return TakeBlock(n, block);
}

std::string DecodeGlobal(const std::string& text) {
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    const int n = CBase64Helper::Base64Decoder(text.data(), int(text.size()), &block);
    return TakeBlock(n, block);
}

TEST(CBase64HelperTest, DecoderReadsWhatDevicesAndToolsSendAndRefusesTheRest) {
    const struct {
        const char* text;
        const char* data; // "<none>": refused; "": nothing to decode, no block either
    } cases[] = {{"Zm9vYmFy", "foobar"},
                 {"YWRtaW46", "admin:"},
                 {"//79", "\xff\xfe\xfd"},
                 {"+/8=", "\xfb\xff"},
                 {"Zm9v\r\nYmFy", "foobar"},
                 {" Zm9v YmFy \n", "foobar"}, // line-wrapped
                 {"Zm9vYg", "foob"},
                 {"Zm9vYmE", "fooba"},
                 {"Zm9vYg=", "foob"},  // missing or short padding
                 {"Zm9vYh==", "foob"}, // unused bits set
                 {"Zm9v!", "<none>"},
                 {"Zm9v-_", "<none>"},
                 {"Z", "<none>"},
                 {"Zm9vY", "<none>"},
                 {"Zg==Zg==", "<none>"},
                 {"Zg==x", "<none>"},
                 {"Zm9v\x80", "<none>"},
                 {"", ""},
                 {"\r\n", ""},
                 {"====", ""}};
    for (const auto& c : cases) {
        const std::string data = c.data;
        EXPECT_EQ(data.empty() ? "<none>" : data, DecodeGlobal(c.text)) << c.text;
        std::string out = "stale";
        EXPECT_EQ(data != "<none>", CBase64Helper::Decode(c.text, out)) << c.text;
        EXPECT_EQ(data == "<none>" ? "" : data, out) << c.text;
    }
}

TEST(CBase64HelperTest, BadArgumentsGiveNoBlock) {
    // Reads block only after the call (arguments have no evaluation order)
    // and sets it to a value each call must overwrite.
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    auto take = [&block](int length) {
        const std::string out = TakeBlock(length, block);
        block = reinterpret_cast<HGLOBAL>(1);
        return out;
    };
    EXPECT_EQ("<none>", take(CBase64Helper::Base64Encoder(nullptr, 3, &block)));
    EXPECT_EQ("<none>", take(CBase64Helper::Base64Encoder("abc", -1, &block)));
    EXPECT_EQ("<none>", take(CBase64Helper::Base64Encoder("abc", 0, &block)));
    // Too large for an int length: refused before the data is read.
    EXPECT_EQ("<none>",
              take(CBase64Helper::Base64Encoder("abc", CBase64Helper::kMaxEncodeLength + 1, &block)));
    EXPECT_EQ("<none>", take(CBase64Helper::Base64Decoder(nullptr, 4, &block)));
    EXPECT_EQ(0, CBase64Helper::Base64Encoder("abc", 3, nullptr));
    EXPECT_EQ(0, CBase64Helper::Base64Decoder("Zm9v", 4, nullptr));
    // A negative length means a NUL-terminated text; a length bounds the text.
    EXPECT_EQ("foo", take(CBase64Helper::Base64Decoder("Zm9v", -1, &block)));
    EXPECT_EQ("f", take(CBase64Helper::Base64Decoder("Zg==Zm9v", 4, &block)));
}

TEST(CBase64HelperTest, AgreesWithCoreutilsBase64BothWays) {
    // Random inputs of every length up to 70 and some long ones: the encoder
    // must write what coreutils writes, coreutils must read back what we
    // wrote, and we must read coreutils' line-wrapped output.
    std::mt19937 random(31337);
    std::vector<size_t> lengths;
    for (size_t n = 1; n <= 70; ++n)
        lengths.push_back(n);
    for (size_t n : {255u, 256u, 257u, 4097u, 65536u})
        lengths.push_back(n);
    const std::string dataPath = platform_test::TempPath("data"), textPath = platform_test::TempPath("text");
    for (size_t n : lengths) {
        std::string data(n, '\0');
        for (char& c : data)
            c = char(random());
        platform_test::WriteFile(dataPath, data);
        const std::string ours = EncodeGlobal(data);
        ASSERT_EQ(platform_test::RunCommand("base64 -w0 '" + dataPath + "'"), ours) << "length " << n;
        EXPECT_EQ(ours, CBase64Helper::Encode(data));
        platform_test::WriteFile(textPath, ours);
        ASSERT_EQ(data, platform_test::RunCommand("base64 -d '" + textPath + "'")) << "length " << n;
        ASSERT_EQ(data, DecodeGlobal(platform_test::RunCommand("base64 '" + dataPath + "'")))
            << "length " << n;
    }
    std::remove(dataPath.c_str());
    std::remove(textPath.c_str());
}

} // namespace
