// The multipart source on its own worker thread, reading through the real
// socket client from a device on 127.0.0.1: a plain stream that the device
// drops, a chunked one, then a refusal that ends the source.
#include "source/CMultipartSource.h"

#include "DeviceJpeg.h"
#include "net/InetTestServer.h"
#include "platform/CMediaQueue.h"

#include <gtest/gtest.h>

#include <memory>

using media_util::CMediaObj;

namespace {

std::string JpegPart(uint32_t sequence, int channel) {
    SDeviceJpeg jpeg;
    jpeg.machineCode = 0x1200;
    jpeg.sequence = sequence;
    jpeg.width = 640;
    jpeg.height = 480;
    jpeg.totalBytes = 3000 + sequence * 101;
    const std::string image = jpeg.Build();
    return "--myboundary\r\nContent-Type: image/jpeg\r\nX-CH: " + std::to_string(channel) +
           "\r\nContent-Length: " + std::to_string(image.size()) + "\r\n\r\n" + image + "\r\n";
}

std::string Chunked(const std::string& body, size_t piece) {
    std::string out;
    for (size_t at = 0; at < body.size(); at += piece) {
        const std::string chunk = body.substr(at, piece);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out += size + chunk + "\r\n";
    }
    return out;
}

TEST(CMultipartSourceLoopbackTest, ReconnectsAfterADropAndStopsOnRefusal) {
    std::atomic<int> connection{0};
    inettest::InetTestServer server([&](const inettest::HttpRequest&, inettest::Conn& conn) {
        const int n = ++connection;
        conn.CloseAfter();
        if (n == 1) {
            std::string body =
                "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=myboundary\r\n\r\n";
            for (uint32_t seq = 1; seq <= 3; ++seq)
                body += JpegPart(seq, 1);
            // Sent in small pieces, so that heads and data span segments.
            for (size_t at = 0; at < body.size(); at += 700)
                conn.Send(body.substr(at, 700));
            return;
        }
        if (n == 2) {
            std::string parts;
            for (uint32_t seq = 4; seq <= 5; ++seq)
                parts += JpegPart(seq, 1);
            conn.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(parts, 999));
            return;
        }
        conn.Send("HTTP/1.1 200 OK\r\n\r\nNS 0001\r\n");
    });
    ASSERT_NE(server.Port(), 0);

    media_util::CMediaQueue queue(100);
    media_util::CManualEvent listener;
    CMultipartSource source;
    CSourceDesc desc;
    desc.SetUrlSource("http://127.0.0.1:" + std::to_string(server.Port()) + "/video.cgi?ch=1", 1, "admin",
                      "secret");
    desc.mClientKind = 1;
    desc.mpListener = &listener;
    desc.mPacingMode = CSourceDesc::kPacingRateLimit;
    ASSERT_TRUE(source.ApplySettings(&desc));
    source.SetOutputQueue(&queue);
    ASSERT_EQ(source.Start(), 1);
    // The refusal ends the source by itself.
    ASSERT_TRUE(source.mStopEvent.Wait(20000));
    source.Stop();

    std::vector<uint32_t> events;
    source.TakeEvents(events);
    EXPECT_EQ(std::count(events.begin(), events.end(), CMediaSource::PackEvent(-1, 0)), 1);
    EXPECT_TRUE(listener.IsSignalled());
    EXPECT_EQ(connection.load(), 3);
    ASSERT_EQ(queue.GetCount(), 5);
    for (uint32_t seq = 1; seq <= 5; ++seq) {
        std::unique_ptr<CMediaObj> o(queue.Deque());
        EXPECT_EQ(o->mVideoFormat, 1000);
        EXPECT_EQ(o->mChannel, 1);
        EXPECT_EQ(o->mFrameNumber, int32_t(seq * 1000));
        EXPECT_EQ(o->mDataLength, int32_t(3000 + seq * 101));
        EXPECT_EQ(o->mWidth, 640);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.target, "/video.cgi?ch=1");
        EXPECT_NE(r.head.find("Authorization: Basic YWRtaW46c2VjcmV0\r\n"), std::string::npos);
    }
}

} // namespace
