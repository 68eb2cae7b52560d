// Standard Base64 (RFC 4648 alphabet "A-Z a-z 0-9 + /", "=" padding) with the
// result in global memory, as the HTTP clients use it for the Basic
// credential ("user:password") and the viewer for the device's layout text.
//
// Ownership: a non-null HGLOBAL handed out belongs to the caller, who locks
// it (GlobalLock) to read it, unlocks it and frees it with GlobalFree. The
// block holds the result followed by one NUL byte, so the encoded text and a
// decoded text can be read as C strings.
//
// Stateless; callable from any thread.
#pragma once

#include "os/kernel/Kernel.h"

#include <climits>
#include <string>
#include <string_view>

namespace media_util {

class CBase64Helper {
public:
    // Longest input the encoder takes: its output (4 characters per 3 bytes
    // and the NUL) must still fit an int length.
    static constexpr int kMaxEncodeLength = (INT_MAX / 4 - 1) * 3;

    // Encodes length bytes at data, with padding and without line breaks.
    // Returns the number of characters (without the NUL) and the block in
    // *out. Returns 0 with *out null for empty input, a null data pointer
    // (with length > 0), a negative or too large length, a null out, or when
    // no memory could be had.
    static int Base64Encoder(const void* data, int length, HGLOBAL* out);

    // Decodes length characters at text (length < 0: text is NUL-terminated).
    // Returns the number of decoded bytes and the block in *out (bytes then a
    // NUL). What it tolerates, because devices and tools produce it:
    // - blanks, tabs, CR and LF anywhere are skipped (line-wrapped text);
    // - missing padding ("QQ" decodes like "QQ==");
    // - non-zero unused bits in the last character are ignored.
    // What fails (0, *out null): any other character outside the alphabet,
    // anything but "=" and blanks after the first "=", a last group of a single
    // character (it cannot hold a byte), a null text or out, no memory.
    // Empty or all-blank text also returns 0 with *out null.
    static int Base64Decoder(const char* text, int length, HGLOBAL* out);

    // The same on std::string, for callers that do not need global memory.
    static std::string Encode(std::string_view data);
    // False (out cleared) where Base64Decoder fails; true for empty text.
    static bool Decode(std::string_view text, std::string& out);
};

} // namespace media_util
