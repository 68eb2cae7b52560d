// Device addresses and stream URLs come from hosts and devices: cracking any
// text must end with a result, never read past the text, and a failure must
// leave the previous fields in place.
#include "FuzzSupport.h"
#include "net/CUrl.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0')); // Crack takes a C string
    CUrl url;
    url.Crack("http://127.0.0.1:8080/vb.htm?getmachinecode");
    const std::string host = url.mHostName;
    const uint16_t port = url.mPort;
    if (url.Crack(text) == 0) {
        Check(url.mHostName == host && url.mPort == port); // a failed crack must not touch the fields
        return 0;
    }
    Check(url.mRequestPath == url.mUrlPath + url.mExtraInfo &&
          (!url.mHostName.empty() || url.mScheme == "file"));
    CUrl copy;
    url.CopyTo(&copy);
    Check(copy.mRequestPath == url.mRequestPath && copy.mPort == url.mPort);
    return 0;
}
