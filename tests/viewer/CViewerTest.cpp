#include "viewer/CViewer.h"

#include "ClosedPort.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A host may give a bare address, a URL, or something in between.
TEST(CViewerTest, AddressCompletion) {
    struct Case {
        const char* address;
        const char* url;
    };
    const Case kCases[] = {
        {"10.0.0.5", "http://10.0.0.5"},
        {"10.0.0.5:8080", "http://10.0.0.5:8080"},
        {"/x", "http:///x"},
        {"", "http://"},
        {nullptr, "http://"},
        {"10.0.0.5/x", "10.0.0.5/x"},
        {"http://10.0.0.5/", "http://10.0.0.5/"},
        {"https://cam:443/a", "https://cam:443/a"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(c.url, CViewer::CompleteAddress(c.address)) << (c.address ? c.address : "(null)");
}

// Open parses the completed address; each that parses names a closed
// loopback port, so open stops at the access check with nothing answering,
// and the audio flag, written only after the device set-up, stays.
TEST(CViewerTest, OpenParsesTheCompletedAddress) {
    const uint16_t port = ClosedLoopbackPort();
    const std::string hostPort = "127.0.0.1:" + std::to_string(port);
    struct Case {
        std::string address;
        bool parses;
        const char* requestPath;
    };
    const Case kCases[] = {
        {hostPort, true, "/"},
        {"http://" + hostPort + "/vb.htm?x=%41", true, "/vb.htm?x=A"},
        {"/x", false, ""},
        {hostPort + "/x", false, ""}, // has a slash, so taken as a URL without a scheme
        {"10.0.0.5:0", false, ""},
        {"10.0.0.5:65536", false, ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.address);
        CViewer viewer;
        int32_t audio = 1;
        // The asynchronous client (kind 2) only where nothing is connected:
        // its refused connects take seconds.
        const int32_t transport = c.parses ? 1 : 2;
        EXPECT_EQ(c.parses,
                  viewer.Open(transport, c.address.c_str(), 0, "admin", "pw", &audio, 3, nullptr) != 0);
        EXPECT_EQ(1, audio);
        if (!c.parses)
            continue;
        EXPECT_EQ("127.0.0.1", viewer.mDeviceUrl.mHostName);
        EXPECT_EQ(port, viewer.mDeviceUrl.mPort);
        EXPECT_EQ(c.requestPath, viewer.mDeviceUrl.mRequestPath);
    }
    CViewer viewer;
    EXPECT_EQ(0, viewer.Open(1, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr));
}

} // namespace
