// Base64 on arbitrary bytes: whatever is encoded decodes back unchanged, and
// arbitrary text either decodes to a block of the reported length or is
// refused without a block. Blocks are freed, so LeakSanitizer sees leaks.
#include "FuzzSupport.h"
#include "platform/CBase64Helper.h"

using fuzz::Check;
using media_util::CBase64Helper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HGLOBAL block = nullptr;
    const int encoded = CBase64Helper::Base64Encoder(data, static_cast<int>(size), &block);
    Check((encoded == 0) == (size == 0));
    Check((block == nullptr) == (encoded == 0));
    if (block != nullptr) {
        Check(encoded == static_cast<int>((size + 2) / 3 * 4));
        const char* text = static_cast<const char*>(GlobalLock(block));
        Check(text[encoded] == '\0');
        HGLOBAL decodedBlock = nullptr;
        const int decoded = CBase64Helper::Base64Decoder(text, encoded, &decodedBlock);
        Check(decoded == static_cast<int>(size) && decodedBlock != nullptr);
        Check(std::memcmp(GlobalLock(decodedBlock), data, size) == 0);
        GlobalUnlock(decodedBlock);
        GlobalFree(decodedBlock);
        Check(CBase64Helper::Encode(std::string_view(reinterpret_cast<const char*>(data), size)) ==
              std::string(text, static_cast<size_t>(encoded)));
        GlobalUnlock(block);
        GlobalFree(block);
    }

    // The input as text.
    HGLOBAL out = nullptr;
    const int n =
        CBase64Helper::Base64Decoder(reinterpret_cast<const char*>(data), static_cast<int>(size), &out);
    Check(n >= 0 && (n == 0) == (out == nullptr));
    Check(static_cast<size_t>(n) <= size / 4 * 3 + 2);
    std::string viaString;
    const bool ok =
        CBase64Helper::Decode(std::string_view(reinterpret_cast<const char*>(data), size), viaString);
    if (out != nullptr) {
        Check(ok && viaString.size() == static_cast<size_t>(n));
        Check(std::memcmp(GlobalLock(out), viaString.data(), viaString.size()) == 0);
        GlobalUnlock(out);
        GlobalFree(out);
    } else {
        Check(!ok || viaString.empty());
    }
    return 0;
}
