#include "viewer/CMachineCodeCache.h"

#include "platform/CLockWrap.h"
#include "platform/CStrUtil.h"

#include <mutex>

namespace {
std::mutex gProcessCacheLock;
CMachineCodeCache* gpProcessCache = nullptr; // guarded by gProcessCacheLock
} // namespace

std::string CMachineCodeCache::MakeKey(const std::string& hostName, uint16_t port) {
    return hostName + std::to_string(port);
}

bool CMachineCodeCache::Lookup(const std::string& key, int32_t* machineCode) {
    media_util::CLockWrap lock(mLock);
    const std::string text = mReplies.Get(key);
    if (text.empty())
        return false;
    *machineCode = media_util::CStrUtil::ParseInt(text, 16);
    return true;
}

void CMachineCodeCache::Store(const std::string& key, const std::string& replyText) {
    if (replyText.empty())
        return;
    media_util::CLockWrap lock(mLock);
    mReplies.Add(key, replyText);
}

CMachineCodeCache& CMachineCodeCache::ProcessCache() {
    std::lock_guard<std::mutex> guard(gProcessCacheLock);
    if (gpProcessCache == nullptr)
        gpProcessCache = new CMachineCodeCache();
    return *gpProcessCache;
}

void CMachineCodeCache::DestroyProcessCache() {
    std::lock_guard<std::mutex> guard(gProcessCacheLock);
    delete gpProcessCache;
    gpProcessCache = nullptr;
}
