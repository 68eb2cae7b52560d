#include "platform/CBufferPool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sys/mman.h>

#include "platform/CLockWrap.h"

namespace media_util {

CBufferPool::CBufferPool(const SLimits& limits, std::function<uint64_t()> nowMs)
    : mLimits(limits), mNowMs(std::move(nowMs)) {
    mPeriodStart = Now();
}

CBufferPool::~CBufferPool() {
    for (auto& entry : mClasses)
        for (void* block : entry.second.blocks)
            ToSystem(block, entry.first);
}

uint8_t* CBufferPool::FromSystem(size_t total) {
    if (mLimits.mapFrom != 0 && total >= mLimits.mapFrom) {
        void* mapped = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
    }
    void* block = nullptr;
    if (posix_memalign(&block, kAlign, total) != 0)
        return nullptr;
    return static_cast<uint8_t*>(block);
}

void CBufferPool::ToSystem(void* block, size_t total) {
    if (mLimits.mapFrom != 0 && total >= mLimits.mapFrom)
        munmap(block, total);
    else
        free(block);
}

uint64_t CBufferPool::Now() const {
    if (mNowMs)
        return mNowMs();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void CBufferPool::TrimLocked(Released* release) {
    const uint64_t now = Now();
    if (now - mPeriodStart < mLimits.trimPeriodMs)
        return;
    mPeriodStart = now;
    for (auto it = mClasses.begin(); it != mClasses.end();) {
        SClass& sizeClass = it->second;
        const size_t idle = std::min(sizeClass.lowWater, sizeClass.blocks.size());
        for (size_t i = 0; i < idle; ++i)
            release->emplace_back(sizeClass.blocks[i], it->first);
        sizeClass.blocks.erase(sizeClass.blocks.begin(), sizeClass.blocks.begin() + idle);
        mIdleBytes -= idle * it->first;
        sizeClass.lowWater = sizeClass.blocks.size();
        if (sizeClass.blocks.empty())
            it = mClasses.erase(it);
        else
            ++it;
    }
}

uint8_t* CBufferPool::Take(size_t total) {
    Released release;
    uint8_t* block = nullptr;
    {
        CLockWrap lock(mLock);
        TrimLocked(&release);
        auto it = mClasses.find(total);
        if (it != mClasses.end() && !it->second.blocks.empty()) {
            SClass& sizeClass = it->second;
            block = static_cast<uint8_t*>(sizeClass.blocks.back());
            sizeClass.blocks.pop_back();
            sizeClass.lowWater = std::min(sizeClass.lowWater, sizeClass.blocks.size());
            mIdleBytes -= total;
        } else {
            ++mSystemTakes;
        }
    }
    for (const auto& old : release)
        ToSystem(old.first, old.second);
    return block != nullptr ? block : FromSystem(total);
}

void CBufferPool::Give(uint8_t* block, size_t total) {
    if (block == nullptr)
        return;
    Released release;
    bool kept = false;
    if (total <= mLimits.maxBlock && mLimits.maxPerClass > 0) {
        CLockWrap lock(mLock);
        TrimLocked(&release);
        // A size first seen in this period starts with no idle blocks.
        SClass& sizeClass = mClasses[total];
        if (sizeClass.blocks.size() < mLimits.maxPerClass && mIdleBytes + total <= mLimits.maxIdleBytes) {
            sizeClass.blocks.push_back(block);
            mIdleBytes += total;
            kept = true;
        } else if (sizeClass.blocks.empty()) {
            mClasses.erase(total);
        }
    }
    for (const auto& old : release)
        ToSystem(old.first, old.second);
    if (!kept)
        ToSystem(block, total);
}

size_t CBufferPool::IdleBytes() {
    CLockWrap lock(mLock);
    return mIdleBytes;
}

size_t CBufferPool::IdleBlocks() {
    CLockWrap lock(mLock);
    size_t count = 0;
    for (const auto& entry : mClasses)
        count += entry.second.blocks.size();
    return count;
}

uint64_t CBufferPool::SystemTakes() {
    CLockWrap lock(mLock);
    return mSystemTakes;
}

} // namespace media_util
