#include "viewer/CViewer.h"

#include "ClosedPort.h"
#include "fakes/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// Open parses the completed address (the addresses that do not parse are the
// exports' tests). A closed loopback port: open stops at the access check
// with nothing answering, and the audio flag, written only after the device
// set-up, stays.
TEST(CViewerTest, OpenParsesTheCompletedAddress) {
    const uint16_t port = ClosedLoopbackPort();
    const std::string hostPort = "127.0.0.1:" + std::to_string(port);
    for (const auto& [address, path] : {std::pair<std::string, std::string>{hostPort, "/"},
                                        {"http://" + hostPort + "/vb.htm?x=%41", "/vb.htm?x=A"}}) {
        SCOPED_TRACE(address);
        CViewer viewer;
        int32_t audio = 1;
        EXPECT_NE(0, viewer.Open(1, address.c_str(), 0, "admin", "pw", &audio, 3, nullptr));
        EXPECT_EQ(1, audio);
        EXPECT_EQ("127.0.0.1", viewer.mDeviceUrl.mHostName);
        EXPECT_EQ(port, viewer.mDeviceUrl.mPort);
        EXPECT_EQ(path, viewer.mDeviceUrl.mRequestPath);
    }
    CViewer viewer;
    EXPECT_EQ(0, viewer.Open(1, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr));
}

// A device that answers everything correctly, but each answer only after
// 700 ms: the open's requests share one budget, so the open ends when it is
// spent instead of after every query the dialect has. Both transports at once.
TEST(CViewerTest, OpenEndsWithinItsBudgetAgainstASlowDevice) {
    constexpr DWORD kBudgetMs = 1200;
    media_util::CManualEvent quit;
    httptest::CScriptedHttpServer device([&](const httptest::HttpRequest& request, httptest::Conn& conn) {
        if (quit.Wait(700))
            return;
        const std::string body = request.target == "/vb.htm?getmachinecode" ? "OK getmachinecode=1200\r\n"
                                 : request.target == "/"                    ? "<html></html>"
                                                                            : "OK x=1\r\n";
        conn.Send(httptest::Response(200, "OK", body));
    });
    const std::string address = "127.0.0.1:" + std::to_string(device.Port());
    std::vector<long> took(2);
    std::vector<std::thread> opens;
    for (int kind : {1, 2}) {
        opens.emplace_back([&, kind] {
            CViewer viewer;
            viewer.SetOpenBudget(kBudgetMs);
            int32_t audio = 0;
            const auto start = std::chrono::steady_clock::now();
            EXPECT_NE(0, viewer.Open(kind, address.c_str(), 0, "admin", "pw", &audio, 1, nullptr));
            took[kind - 1] = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - start)
                                                   .count());
        });
    }
    for (std::thread& open : opens)
        open.join();
    quit.Set();
    for (long ms : took)
        EXPECT_LT(ms, 2100);
    // The access check and the machine-code query that the budget cuts, per transport.
    EXPECT_LE(device.Requests().size(), 4u);
}

// The layout text travels as Base64 with "+" "=" "/" spelt "^" "@" "$" (the
// parameter answers are not percent-encoded), of UTF-8 text.
TEST(CViewerTest, LayoutTextDecodes) {
    const struct {
        const char* value;
        std::wstring text;
    } cases[] = {
        {"Y2Ftc2ltIMOpdGFnZSAx", L"camsim \u00e9tage 1"}, // UTF-8 to wide
        {"fn5^", L"~~~"},                                  // "^" is "+"
        {"YT8$", L"a\?\?"},                               // "$" is "/"
        {"QQ@@", L"A"},                                    // "@" is "="
        {"QQ==", L"A"},                                    // the plain spelling too
        {"not base64!", L""},                              // refused: nothing drawn
        {"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, CViewer::DecodeLayoutText(c.value)) << c.value;
    // At most 511 characters are kept.
    const std::string longText = "QUFB" + std::string(4 * 200, 'Q');
    EXPECT_EQ(CViewer::kMaxLayoutText, CViewer::DecodeLayoutText(longText).size());
}

} // namespace
