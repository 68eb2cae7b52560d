// Device addresses and stream URLs come from hosts and devices: cracking any
// text must end with a result, never read past the text, and a failure must
// leave the previous fields in place.
#include "net/CUrl.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0')); // Crack takes a C string
    CUrl url;
    url.Crack("http://127.0.0.1:8080/vb.htm?getmachinecode");
    const std::string host = url.mHostName;
    const uint16_t port = url.mPort;
    if (url.Crack(text) == 0) {
        if (url.mHostName != host || url.mPort != port)
            std::abort(); // a failed crack must not touch the fields
        return 0;
    }
    if (url.mRequestPath != url.mUrlPath + url.mExtraInfo || (url.mHostName.empty() && url.mScheme != "file"))
        std::abort();
    CUrl copy;
    url.CopyTo(&copy);
    if (copy.mRequestPath != url.mRequestPath || copy.mPort != url.mPort)
        std::abort();
    return 0;
}
