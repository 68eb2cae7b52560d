#include "ClipCache.h"

#include "EncoderJpeg.h"
#include "MediaStream.h"
#include "Picture.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace camsim {

std::shared_ptr<const Clip> ClipCache::Encode(const ClipKey& key, uint32_t frames) {
    auto clip = std::make_shared<Clip>();
    const std::string clock = WallClock::Now().Picture();
    std::unique_ptr<EncoderVideo> video;
    EncoderJpeg jpeg;
    if (key.codec != VideoCodec::Jpeg) {
        video = EncoderVideo::Create(key.codec, key.width, key.height, key.fps, key.keyInterval);
        if (!video)
            return nullptr;
    }
    // An encoder may hold pictures back; it gets a few more than asked for
    // before the clip counts as failed.
    const uint32_t attempts = frames + 16;
    for (uint32_t n = 1; n <= attempts && clip->frames.size() < frames; ++n) {
        Picture picture(key.width, key.height);
        Scene scene;
        scene.still = key.still;
        if (key.dual)
            picture.DrawDual(key.channel, n, clock, scene);
        else
            picture.Draw(key.channel, n, clock, scene);
        clip->width = picture.Width();
        clip->height = picture.Height();
        std::string data;
        if (key.codec == VideoCodec::Jpeg) {
            // A placeholder header, rewritten per send.
            const DeviceHeader placeholder;
            if (!jpeg.Encode(picture, key.deviceHeader ? &placeholder : nullptr, &data))
                return nullptr;
        } else {
            EncoderVideo::Frame frame;
            if (!video->Encode(picture, &frame))
                return nullptr;
            if (frame.data.empty())
                continue;
            if (clip->frames.empty() && !frame.key)
                return nullptr; // the loop could not be joined at its start
            data = std::move(frame.data);
        }
        clip->bytes += data.size();
        clip->frames.push_back(std::move(data));
    }
    if (clip->frames.size() != frames)
        return nullptr;
    return clip;
}

std::shared_ptr<const Clip> ClipCache::Get(const ClipKey& key) {
    if (mFrames == 0)
        return nullptr;
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard<std::mutex> guard(mLock);
        std::shared_ptr<Entry>& slot = mEntries[key];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
    }
    std::call_once(entry->once, [&] {
        std::shared_ptr<const Clip> clip = Encode(key, mFrames);
        if (!clip)
            return;
        std::lock_guard<std::mutex> guard(mLock);
        if (mBytes + clip->bytes > kMaxBytes)
            return;
        mBytes += clip->bytes;
        entry->clip = std::move(clip);
    });
    return entry->clip;
}

void ClipCache::Prepare(const std::vector<ClipKey>& keys) {
    if (mFrames == 0 || keys.empty())
        return;
    const size_t threads = std::min<size_t>(keys.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < keys.size();)
                Get(keys[i]);
        });
    for (std::thread& w : workers)
        w.join();
}

} // namespace camsim
