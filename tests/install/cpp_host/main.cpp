// A C++ host built against an installed ipcamview through find_package: it
// holds a CViewer, opens it on the camera at argv[1] ("127.0.0.1:PORT"),
// shows it in an off-screen window and subscribes it to the live stream. It
// passes when the window shows pictures that move on within its deadline,
// which takes the whole installed chain: the static libraries, the decoder
// library loaded through the run path find_package gave, and the renderers.
#include <ipcamview/Viewer.h>
#include <ipcamview/Window.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr auto kDeadline = std::chrono::seconds(20);

bool Black(const std::vector<uint8_t>& bgrx) {
    for (size_t i = 0; i < bgrx.size(); i += 4)
        if (bgrx[i] | bgrx[i + 1] | bgrx[i + 2])
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cpp_host CAMERA_ADDRESS\n");
        return 2;
    }
    int failures = 0;
    os::OffscreenWindow window(kWidth, kHeight); // outlives the viewer that draws into it
    {
        CViewer viewer;
        media_util::CMediaObj preferences;
        int32_t audio = 0;
        if (viewer.Open(CViewer::kTransportSocket, argv[1], 0, "", "", &audio, 1, &preferences) == 0) {
            std::fprintf(stderr, "cpp_host: the address did not parse\n");
            return 1;
        }
        if (!viewer.HasStreamPath()) {
            std::fprintf(stderr, "cpp_host: the open stopped before the stream (stage %d, HTTP %d)\n",
                         static_cast<int>(viewer.GetOpenReport().stage), viewer.GetOpenReport().httpStatus);
            return 1;
        }
        viewer.Arm();
        if (viewer.StartDisplay(&window) != 1 || viewer.Subscribe() != 1) {
            std::fprintf(stderr, "cpp_host: show or subscribe failed\n");
            return 1;
        }
        // Pictures: the window stops being black, then changes as the
        // camera's moving picture goes on.
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        std::vector<uint8_t> first;
        bool moved = false;
        while (std::chrono::steady_clock::now() < end && !moved) {
            const uint64_t seen = window.InvalidateCount();
            window.WaitInvalidated(seen, 500);
            std::vector<uint8_t> now = window.Snapshot();
            if (Black(now))
                continue;
            if (first.empty())
                first = std::move(now);
            else
                moved = now != first;
        }
        if (first.empty()) {
            std::fprintf(stderr, "cpp_host: no picture reached the window\n");
            ++failures;
        } else if (!moved) {
            std::fprintf(stderr, "cpp_host: the picture never changed\n");
            ++failures;
        }
        viewer.StopDisplay();
        viewer.Unsubscribe();
    }
    std::printf("cpp_host: %s\n", failures == 0 ? "live pictures shown" : "failed");
    return failures == 0 ? 0 : 1;
}
