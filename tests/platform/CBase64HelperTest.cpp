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

// Accepted: both extra characters; blanks, tabs and line breaks anywhere;
// missing or short padding; set unused bits. Refused: characters outside the
// alphabet (the URL-safe ones, bytes above 0x7F), a last group of one
// character, data after the padding. Blank or padding only: no data, no block.
TEST(CBase64HelperTest, DecoderReadsWhatDevicesAndToolsSendAndRefusesTheRest) {
    const struct {
        const char* text;
        const char* data; // "<none>": refused; "": nothing to decode
    } cases[] = {
        {"Zm9vYmFy", "foobar"}, {"+/8=", "\xfb\xff"},   {"\tZm9v\r\nYm Fy \n", "foobar"},
        {"Zm9vYg", "foob"},     {"Zm9vYmE", "fooba"},   {"Zm9vYg=", "foob"},
        {"Zm9vYh==", "foob"},   {"Zm9v-_", "<none>"},   {"Zm9v\x80", "<none>"},
        {"Zm9vY", "<none>"},    {"Zg==Zg==", "<none>"}, {"", ""},
        {"====", ""},
    };
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
    // Random inputs of every length modulo 3, around coreutils' 76-character
    // line (57 bytes) and long ones: the encoder must write what coreutils
    // writes, coreutils must read back what we wrote, and we must read
    // coreutils' line-wrapped output.
    std::mt19937 random(31337);
    const std::string dataPath = platform_test::TempPath("data"), textPath = platform_test::TempPath("text");
    for (size_t n : {1u, 2u, 3u, 4u, 5u, 6u, 56u, 57u, 58u, 114u, 115u, 255u, 256u, 257u, 4097u, 65536u}) {
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
