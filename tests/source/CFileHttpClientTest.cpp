#include "source/CFileHttpClient.h"

#include "FakeStreamClient.h"
#include "platform/CMediaQueue.h"
#include "source/CMultipartSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("IPCAM_TEST_TMP");
    return std::string(dir != nullptr ? dir : "/tmp") + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Capture(int parts) {
    std::string s;
    for (int i = 0; i < parts; ++i) {
        const std::string data(1000 + i * 333, static_cast<char>('a' + i));
        s += "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(data.size()) +
             "\r\n\r\n" + data + "\r\n";
    }
    return s;
}

TEST(CFileHttpClientTest, CapturesSplitWithOrWithoutTheirHead) {
    struct SCase {
        const char* name;
        std::string head;
        int status;
    };
    const std::vector<SCase> cases = {
        {"bare body", "", 200},
        {"with head",
         "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=myboundary\r\n\r\n", 200},
        {"LF-only head", "HTTP/1.0 200 OK\nServer: x\n\n", 200},
        {"other status", "HTTP/1.1 401 Unauthorized\r\n\r\n", 401},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("capture.mjpeg");
        WriteFile(path, c.head + Capture(7));
        CFakeSourceClock clock;
        media_util::CMediaQueue queue(100);
        CMultipartSource source;
        source.SetClock(&clock);
        source.SetOutputQueue(&queue);
        CFileHttpClient* client = nullptr;
        source.SetClientFactory([&](int, const std::string&, const std::string&,
                                    media_util::CManualEvent* cancel, CHttpLink** link, IHttpClient** made) {
            CFileHttpClient::Create(path, cancel, link, made);
            client = static_cast<CFileHttpClient*>(*made);
            return true;
        });
        CSourceDesc desc;
        desc.SetUrlSource("http://127.0.0.1/capture", 1, "", "");
        desc.mPacingMode = CSourceDesc::kPacingRateLimit;
        desc.mAutoRestart = 0;
        ASSERT_TRUE(source.ApplySettings(&desc));
        source.Init();
        for (int i = 0; i < 100 && source.IsRunning(); ++i)
            source.Job();
        // The end of the capture reads as a closed stream; the one replay
        // allowed is used, so the source gives up.
        EXPECT_FALSE(source.IsRunning());
        ASSERT_NE(client, nullptr);
        EXPECT_TRUE(client->IsAtEnd());
        EXPECT_EQ(client->GetOpenCount(), 1);
        EXPECT_EQ(client->GetStatusCode(), c.status);
        EXPECT_EQ(queue.GetCount(), 7);
        for (int i = 0; i < 7; ++i) {
            std::unique_ptr<media_util::CMediaObj> o(queue.Deque());
            EXPECT_EQ(o->mDataLength, 1000 + i * 333);
            EXPECT_EQ(o->mpData[0], 'a' + i);
        }
        source.Final();
    }
}

TEST(CFileHttpClientTest, MissingFileOrUnterminatedHeadFails) {
    CFileHttpClient missing(TempPath("does-not-exist.mjpeg"));
    EXPECT_FALSE(missing.Connect("127.0.0.1", 80, true));
    const std::string path = TempPath("head-only.mjpeg");
    WriteFile(path, "HTTP/1.1 200 OK\r\nX: " + std::string(CFileHttpClient::kMaxHeadBytes, 'x'));
    CFileHttpClient client(path);
    ASSERT_TRUE(client.Connect("127.0.0.1", 80, true));
    EXPECT_FALSE(client.Get("/"));
    EXPECT_FALSE(client.Connect("127.0.0.1", 80, true)); // the one replay is used
    client.SetMaxOpens(0);
    EXPECT_TRUE(client.Connect("127.0.0.1", 80, true));
}

} // namespace
