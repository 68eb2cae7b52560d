#include "platform/CBase64Helper.h"

#include <cstring>

namespace media_util {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr signed char kSkip = -2;
constexpr signed char kBad = -1;

struct SDecodeTable {
    signed char value[256];
    SDecodeTable() {
        for (int i = 0; i < 256; ++i)
            value[i] = kBad;
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
        value[static_cast<unsigned char>(' ')] = kSkip;
        value[static_cast<unsigned char>('\t')] = kSkip;
        value[static_cast<unsigned char>('\r')] = kSkip;
        value[static_cast<unsigned char>('\n')] = kSkip;
    }
};

const SDecodeTable kDecode;

size_t EncodedLength(size_t n) {
    return (n + 2) / 3 * 4;
}

void EncodeInto(const unsigned char* in, size_t n, char* out) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        const unsigned v = unsigned(in[i]) << 16;
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8);
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = '=';
    }
}

// Decodes into out (room for n * 3 / 4 + 3 bytes); -1 when the text is not
// acceptable, else the byte count.
long DecodeInto(const char* text, size_t n, unsigned char* out) {
    unsigned acc = 0;
    int pending = 0; // sextets in acc
    size_t written = 0;
    size_t i = 0;
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '=')
            break;
        const signed char v = kDecode.value[c];
        if (v == kSkip)
            continue;
        if (v == kBad)
            return -1;
        acc = (acc << 6) | static_cast<unsigned>(v);
        if (++pending == 4) {
            out[written++] = static_cast<unsigned char>(acc >> 16);
            out[written++] = static_cast<unsigned char>(acc >> 8);
            out[written++] = static_cast<unsigned char>(acc);
            acc = 0;
            pending = 0;
        }
    }
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '=' && kDecode.value[c] != kSkip)
            return -1;
    }
    if (pending == 1)
        return -1;
    if (pending == 2) {
        out[written++] = static_cast<unsigned char>(acc >> 4);
    } else if (pending == 3) {
        out[written++] = static_cast<unsigned char>(acc >> 10);
        out[written++] = static_cast<unsigned char>(acc >> 2);
    }
    return static_cast<long>(written);
}

HGLOBAL AllocBlock(size_t size) {
    if (size > static_cast<size_t>(INT_MAX))
        return nullptr;
    return GlobalAlloc(GMEM_MOVEABLE, size);
}

} // namespace

int CBase64Helper::Base64Encoder(const void* data, int length, HGLOBAL* out) {
    if (out == nullptr)
        return 0;
    *out = nullptr;
    if (length <= 0 || length > kMaxEncodeLength || data == nullptr)
        return 0;
    const size_t textLength = EncodedLength(static_cast<size_t>(length));
    HGLOBAL block = AllocBlock(textLength + 1);
    if (block == nullptr)
        return 0;
    char* text = static_cast<char*>(GlobalLock(block));
    if (text == nullptr) {
        GlobalFree(block);
        return 0;
    }
    EncodeInto(static_cast<const unsigned char*>(data), static_cast<size_t>(length), text);
    text[textLength] = '\0';
    GlobalUnlock(block);
    *out = block;
    return static_cast<int>(textLength);
}

int CBase64Helper::Base64Decoder(const char* text, int length, HGLOBAL* out) {
    if (out == nullptr)
        return 0;
    *out = nullptr;
    if (text == nullptr)
        return 0;
    const size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    if (n == 0)
        return 0;
    // Every 4 characters give at most 3 bytes; 3 spare bytes and the NUL.
    HGLOBAL block = AllocBlock(n / 4 * 3 + 4);
    if (block == nullptr)
        return 0;
    unsigned char* bytes = static_cast<unsigned char*>(GlobalLock(block));
    if (bytes == nullptr) {
        GlobalFree(block);
        return 0;
    }
    const long written = DecodeInto(text, n, bytes);
    if (written <= 0) {
        GlobalUnlock(block);
        GlobalFree(block);
        return 0;
    }
    bytes[written] = 0;
    GlobalUnlock(block);
    *out = block;
    return static_cast<int>(written);
}

std::string CBase64Helper::Encode(std::string_view data) {
    std::string out(EncodedLength(data.size()), '\0');
    EncodeInto(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out.data());
    return out;
}

bool CBase64Helper::Decode(std::string_view text, std::string& out) {
    out.assign(text.size() / 4 * 3 + 3, '\0');
    const long written = DecodeInto(text.data(), text.size(), reinterpret_cast<unsigned char*>(out.data()));
    if (written < 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(written));
    return true;
}

} // namespace media_util
