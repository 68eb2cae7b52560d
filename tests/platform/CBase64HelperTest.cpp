#include "platform/CBase64Helper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

using media_util::CBase64Helper;

namespace {

// Copies a result block out and frees it, as the HTTP clients do with the
// Basic credential.
std::string TakeBlock(HGLOBAL block, int length) {
    if (block == nullptr)
        return {};
    const char* p = static_cast<const char*>(GlobalLock(block));
    std::string out(p, static_cast<size_t>(length));
    EXPECT_EQ('\0', p[length]) << "the block must be NUL-terminated";
    EXPECT_GE(GlobalSize(block), static_cast<SIZE_T>(length) + 1);
    GlobalUnlock(block);
    EXPECT_EQ(nullptr, GlobalFree(block));
    return out;
}

std::string EncodeGlobal(const std::string& data) {
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    const int n = CBase64Helper::Base64Encoder(data.data(), static_cast<int>(data.size()), &block);
    if (n == 0) {
        EXPECT_EQ(nullptr, block);
        return {};
    }
    return TakeBlock(block, n);
}

// Decodes; *ok tells whether the decoder produced a block.
std::string DecodeGlobal(const std::string& text, bool* ok = nullptr) {
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    const int n = CBase64Helper::Base64Decoder(text.data(), static_cast<int>(text.size()), &block);
    if (ok)
        *ok = n > 0;
    if (n == 0) {
        EXPECT_EQ(nullptr, block);
        return {};
    }
    return TakeBlock(block, n);
}

TEST(CBase64HelperTest, KnownVectors) {
    const struct {
        const char* data;
        const char* text;
    } cases[] = {
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"admin:", "YWRtaW46"},
        {"admin:secret", "YWRtaW46c2VjcmV0"},
        {"\xff\xfe\xfd", "//79"},
        {"\xfb\xff", "+/8="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, EncodeGlobal(c.data)) << c.data;
        EXPECT_EQ(c.data, DecodeGlobal(c.text)) << c.text;
        EXPECT_EQ(c.text, CBase64Helper::Encode(c.data));
        std::string out;
        EXPECT_TRUE(CBase64Helper::Decode(c.text, out));
        EXPECT_EQ(c.data, out);
    }
}

TEST(CBase64HelperTest, DecoderToleratesWhatDevicesAndToolsSend) {
    const struct {
        const char* text;
        const char* data;
    } cases[] = {
        {"Zm9v\r\nYmFy", "foobar"},                        // line-wrapped
        {" Zm9v YmFy \n", "foobar"}, {"Zm9vYg", "foob"},   // missing padding
        {"Zm9vYmE", "fooba"},        {"Zm9vYg=", "foob"},  // short padding
        {"Zm9vYg==\n", "foob"},      {"Zm9vYh==", "foob"}, // unused bits set
        {"Zg==\t\r\n", "f"},
    };
    for (const auto& c : cases) {
        bool ok = false;
        EXPECT_EQ(c.data, DecodeGlobal(c.text, &ok)) << c.text;
        EXPECT_TRUE(ok) << c.text;
    }
}

TEST(CBase64HelperTest, DecoderRefusesWhatIsNotBase64) {
    const char* bad[] = {
        "Zm9v!", "Zm9v-_", "Z", "Zm9vY", "Zg==Zg==", "Zg==x", "Zm9v\x80", "^Zm9v", "Zm@=",
    };
    for (const char* text : bad) {
        bool ok = true;
        EXPECT_EQ("", DecodeGlobal(text, &ok)) << text;
        EXPECT_FALSE(ok) << text;
        std::string out = "stale";
        EXPECT_FALSE(CBase64Helper::Decode(text, out)) << text;
        EXPECT_TRUE(out.empty());
    }
    // Nothing to decode.
    for (const char* text : {"", "   ", "\r\n", "===="}) {
        bool ok = true;
        EXPECT_EQ("", DecodeGlobal(text, &ok));
        EXPECT_FALSE(ok);
    }
}

TEST(CBase64HelperTest, BadArgumentsGiveNoBlock) {
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(0, CBase64Helper::Base64Encoder(nullptr, 3, &block));
    EXPECT_EQ(nullptr, block);
    block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(0, CBase64Helper::Base64Encoder("abc", -1, &block));
    EXPECT_EQ(nullptr, block);
    block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(0, CBase64Helper::Base64Encoder("abc", 0, &block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(0, CBase64Helper::Base64Encoder("abc", 3, nullptr));
    // Too large for an int length: refused before the data is read.
    block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(0, CBase64Helper::Base64Encoder("abc", CBase64Helper::kMaxEncodeLength + 1, &block));
    EXPECT_EQ(nullptr, block);

    block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(0, CBase64Helper::Base64Decoder(nullptr, 4, &block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(0, CBase64Helper::Base64Decoder("Zm9v", 4, nullptr));
    // A negative length means a NUL-terminated text.
    block = nullptr;
    ASSERT_EQ(3, CBase64Helper::Base64Decoder("Zm9v", -1, &block));
    EXPECT_EQ("foo", TakeBlock(block, 3));
    // The length bounds the text even when more follows.
    block = nullptr;
    ASSERT_EQ(1, CBase64Helper::Base64Decoder("Zg==Zm9v", 4, &block));
    EXPECT_EQ("f", TakeBlock(block, 1));
}

// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "<popen failed>";
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_EQ(0, status) << command;
    return out;
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("IPCAM_TEST_TMP");
    std::string base = (dir && *dir) ? dir : "/tmp";
    return base + "/base64-" + std::to_string(getpid()) + "-" + name;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

TEST(CBase64HelperTest, AgreesWithCoreutilsBase64BothWays) {
    // Random inputs of every length up to 70 and some long ones: the encoder
    // must write what coreutils writes, coreutils must read back what we
    // wrote, and we must read coreutils' line-wrapped output.
    std::mt19937 random(31337);
    std::vector<size_t> lengths;
    for (size_t n = 1; n <= 70; ++n)
        lengths.push_back(n);
    for (size_t n : {255u, 256u, 257u, 1000u, 4097u, 65536u})
        lengths.push_back(n);
    const std::string dataPath = TempPath("data");
    const std::string textPath = TempPath("text");
    for (size_t n : lengths) {
        std::string data(n, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        WriteFile(dataPath, data);

        const std::string ours = EncodeGlobal(data);
        const std::string theirs = RunCommand("base64 -w0 '" + dataPath + "'");
        ASSERT_EQ(theirs, ours) << "length " << n << ", seed 31337";

        WriteFile(textPath, ours);
        ASSERT_EQ(data, RunCommand("base64 -d '" + textPath + "'")) << "length " << n;

        const std::string wrapped = RunCommand("base64 '" + dataPath + "'"); // 76 columns
        ASSERT_EQ(data, DecodeGlobal(wrapped)) << "length " << n;
    }
    std::remove(dataPath.c_str());
    std::remove(textPath.c_str());
}

} // namespace
