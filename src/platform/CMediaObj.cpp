#include "platform/CMediaObj.h"

#include <atomic>
#include <cassert>
#include <new>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/CBufferPool.h"
#include "platform/CMemUtil.h"

#if defined(__SANITIZE_ADDRESS__)
#define IPCAM_EXACT_BUFFERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IPCAM_EXACT_BUFFERS 1
#endif
#endif

namespace media_util {

namespace {

// Every buffer starts this far into a 4 KiB-aligned block, behind its
// header, so that any two buffers lie a multiple of 4096 bytes apart.
constexpr size_t kPageSize = 4096;
static_assert(kPageSize == CBufferPool::kAlign, "the pool's blocks start on a page");
constexpr size_t kHeaderSize = 64;
constexpr uint64_t kBlockMagic = 0x4D6564696142756Full; // "MediaBuo"
// The pool keeps at most this many bytes of idle blocks, and at most
// kPoolMaxPerClass blocks of one size class: enough for the queues of a
// few channels at their limits. A block that lay idle for a whole
// kPoolTrimPeriodMs goes back to the system, so that what a burst of frames
// needed once (a stall, a restarted stream sending what it held, a picture
// size no longer seen) is not kept for the life of the process.
constexpr size_t kPoolMaxBytes = 64u * 1024 * 1024;
constexpr size_t kPoolMaxPerClass = 32;
constexpr size_t kPoolMaxBlock = 16u * 1024 * 1024;
constexpr uint32_t kPoolTrimPeriodMs = 10000;
// Blocks this large (decoded pictures, key frames of large streams) are
// mapped by the pool itself, so that a block it gives back leaves the
// process instead of staying in malloc's arenas.
constexpr size_t kPoolMapFrom = 128u * 1024;

struct BlockHeader {
    uint64_t magic;
    size_t total; // bytes of the whole block, header included
    // Objects that hold the block (CloneMeSharingContent adds one); it goes
    // back to the pool when the last lets go.
    std::atomic<int32_t> holders;
};
static_assert(sizeof(BlockHeader) <= 64, "the header fits in front of the buffer");

#ifdef IPCAM_EXACT_BUFFERS
// Under AddressSanitizer every buffer is exact and freed at once, so that
// overruns and use after free are reported.
size_t BlockTotal(size_t size) {
    return kHeaderSize + size;
}
constexpr bool kPoolEnabled = false;
#else
// Size classes: multiples of 4 KiB up to 64 KiB, then four steps per
// doubling, so a frame whose size wanders a little still finds a block.
size_t BlockTotal(size_t size) {
    size_t total = kHeaderSize + size;
    size_t step = kPageSize;
    if (total > 64 * 1024) {
        size_t top = 1;
        while (top * 2 <= total)
            top *= 2;
        step = top / 4;
    }
    return (total + step - 1) / step * step;
}
constexpr bool kPoolEnabled = true;
#endif

// Never destroyed: objects may be freed by threads still running at exit.
CBufferPool& Pool() {
    static CBufferPool* pool = new CBufferPool(CBufferPool::SLimits{kPoolMaxBytes,
                                                                    kPoolEnabled ? kPoolMaxPerClass : 0,
                                                                    kPoolMaxBlock, kPoolTrimPeriodMs,
                                                                    kPoolEnabled ? kPoolMapFrom : 0});
    return *pool;
}

BlockHeader* HeaderOf(const uint8_t* data) {
    return reinterpret_cast<BlockHeader*>(const_cast<uint8_t*>(data) - kHeaderSize);
}

bool FindStartCode(const uint8_t* data, int32_t length, int32_t from, int32_t* at, uint8_t* code) {
    for (int32_t i = from; i + 3 < length; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            *at = i;
            *code = data[i + 3];
            return true;
        }
    }
    return false;
}

uint32_t ReadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void WriteBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// One box of a QBox object, as found by NextQBox.
struct QBox {
    const uint8_t* box;
    int32_t size; // whole box
    uint16_t streamType;
    uint32_t flags;
    const uint8_t* payload;
    int32_t payloadLength;
};

// Reads the box at offset; false when none starts there or it does not fit.
bool NextQBox(const uint8_t* data, int32_t length, int32_t offset, QBox* out) {
    if (data == nullptr || offset < 0 || length - offset < CMediaObj::kQBoxHeaderSize)
        return false;
    const uint8_t* p = data + offset;
    uint32_t size = ReadBE32(p);
    if (memcmp(p + 4, "qbox", 4) != 0)
        return false;
    if (size < uint32_t(CMediaObj::kQBoxHeaderSize) || size > uint32_t(length - offset))
        return false;
    out->box = p;
    out->size = int32_t(size);
    out->streamType = uint16_t((p[12] << 8) | p[13]);
    out->flags = ReadBE32(p + 16);
    out->payload = p + CMediaObj::kQBoxHeaderSize;
    out->payloadLength = int32_t(size) - CMediaObj::kQBoxHeaderSize;
    return true;
}

// Appends the SPS (7) and PPS (8) NAL units of an Annex-B payload to config,
// each behind a four-byte start code.
void CollectParameterSets(const uint8_t* data, int32_t length, std::vector<uint8_t>* config) {
    int32_t at = 0;
    uint8_t code = 0;
    if (!FindStartCode(data, length, 0, &at, &code))
        return;
    while (true) {
        int32_t nalStart = at + 3;
        int32_t next = 0;
        uint8_t nextCode = 0;
        bool more = FindStartCode(data, length, nalStart, &next, &nextCode);
        int32_t nalEnd = more ? next : length;
        // A four-byte start code leaves a zero byte in front of the next one.
        while (nalEnd > nalStart && data[nalEnd - 1] == 0)
            --nalEnd;
        int nalType = data[nalStart] & 0x1F;
        if (nalEnd > nalStart && (nalType == 7 || nalType == 8)) {
            static const uint8_t kStart[4] = {0, 0, 0, 1};
            config->insert(config->end(), kStart, kStart + 4);
            config->insert(config->end(), data + nalStart, data + nalEnd);
        }
        if (!more)
            return;
        at = next;
    }
}

} // namespace

CMediaObj::CMediaObj() = default;

CMediaObj::~CMediaObj() {
    ReleaseData();
}

CMediaObj::CMediaObj(const CMediaObj& other) {
    other.CloneMe(this, kCloneAll);
}

CMediaObj& CMediaObj::operator=(const CMediaObj& other) {
    other.CloneMe(this, kCloneAll);
    return *this;
}

uint8_t* CMediaObj::AllocData(int32_t size) {
    if (size < 0 || size > kMaxDataSize)
        return nullptr;
    size_t total = BlockTotal(size_t(size));
    uint8_t* block = Pool().Take(total);
    if (block == nullptr)
        return nullptr;
    auto* header = reinterpret_cast<BlockHeader*>(block);
    header->magic = kBlockMagic;
    header->total = total;
    new (&header->holders) std::atomic<int32_t>(1);
    return block + kHeaderSize;
}

void CMediaObj::FreeData(uint8_t* data) {
    if (data == nullptr)
        return;
    BlockHeader* header = HeaderOf(data);
    // A buffer from elsewhere handed to an owning object is a programming
    // error; leaking it is better than corrupting the heap.
    assert(header->magic == kBlockMagic && "media buffer not from CMediaObj::AllocData");
    if (header->magic != kBlockMagic)
        return;
    if (header->holders.fetch_sub(1, std::memory_order_acq_rel) > 1)
        return; // another object still holds it
    header->magic = 0;
    Pool().Give(reinterpret_cast<uint8_t*>(header), header->total);
}

bool CMediaObj::IsSharedData(const uint8_t* data) {
    if (data == nullptr)
        return false;
    const BlockHeader* header = HeaderOf(data);
    return header->magic == kBlockMagic && header->holders.load(std::memory_order_acquire) > 1;
}

int32_t CMediaObj::DataCapacity(const uint8_t* data) {
    if (data == nullptr)
        return 0;
    const BlockHeader* header = HeaderOf(data);
    if (header->magic != kBlockMagic)
        return 0;
    return int32_t(header->total - kHeaderSize);
}

void CMediaObj::UpdateDataSize() {
    mDataSize = mDataLength + mDataLength2;
}

void CMediaObj::ReleaseData() {
    if (mOwnsData) {
        FreeData(mpData);
        FreeData(mpData2);
    }
    mpData = nullptr;
    mpData2 = nullptr;
    mDataLength = 0;
    mDataLength2 = 0;
    mDataSize = 0;
    mOwnsData = 0;
}

void CMediaObj::TakeOwnershipOfOther(uint8_t** keepSlot) {
    if (mOwnsData)
        return;
    // One flag covers both buffers: before this object starts to own one,
    // the other (borrowed) one is copied so that the flag stays true for both.
    uint8_t** other = keepSlot == &mpData ? &mpData2 : &mpData;
    int32_t* otherLength = keepSlot == &mpData ? &mDataLength2 : &mDataLength;
    uint8_t* copy = nullptr;
    if (*other != nullptr && *otherLength > 0) {
        copy = AllocData(*otherLength);
        if (copy != nullptr)
            memcpy(copy, *other, size_t(*otherLength));
    }
    *other = copy;
    if (copy == nullptr)
        *otherLength = 0;
    *keepSlot = nullptr; // borrowed; forgotten, not freed
    mOwnsData = 1;
}

uint8_t* CMediaObj::AllocateSlot(uint8_t** slot, int32_t* slotLength, int32_t length) {
    TakeOwnershipOfOther(slot);
    if (length < 0 || length > kMaxDataSize) {
        FreeData(*slot);
        *slot = nullptr;
        *slotLength = 0;
        UpdateDataSize();
        return nullptr;
    }
    // A buffer other objects hold too is never written: it is let go and a
    // new one made.
    if (*slot == nullptr || IsSharedData(*slot) || DataCapacity(*slot) < length) {
        FreeData(*slot);
        *slot = AllocData(length);
    }
    *slotLength = *slot != nullptr ? length : 0;
    UpdateDataSize();
    return *slot;
}

uint8_t* CMediaObj::AllocateData(int32_t length) {
    return AllocateSlot(&mpData, &mDataLength, length);
}

uint8_t* CMediaObj::AllocateData2(int32_t length) {
    return AllocateSlot(&mpData2, &mDataLength2, length);
}

int CMediaObj::CopyData(const void* source, int32_t length) {
    if (source == nullptr && length > 0)
        return 0;
    uint8_t* buffer = AllocateData(length);
    if (buffer == nullptr)
        return 0;
    if (length > 0)
        CMemUtil::FastMemcpyMMX(buffer, source, size_t(length));
    return 1;
}

int CMediaObj::CopyData2(const void* source, int32_t length) {
    if (source == nullptr && length > 0)
        return 0;
    uint8_t* buffer = AllocateData2(length);
    if (buffer == nullptr)
        return 0;
    if (length > 0)
        CMemUtil::FastMemcpyMMX(buffer, source, size_t(length));
    return 1;
}

void CMediaObj::AttachData(uint8_t* block, int32_t length) {
    TakeOwnershipOfOther(&mpData);
    if (block != mpData)
        FreeData(mpData);
    mpData = block;
    mDataLength = block != nullptr && length > 0 ? length : 0;
    UpdateDataSize();
}

void CMediaObj::AttachData2(uint8_t* block, int32_t length) {
    TakeOwnershipOfOther(&mpData2);
    if (block != mpData2)
        FreeData(mpData2);
    mpData2 = block;
    mDataLength2 = block != nullptr && length > 0 ? length : 0;
    UpdateDataSize();
}

void CMediaObj::CopyHeaderTo(CMediaObj* t) const {
    t->mWidth = mWidth;
    t->mHeight = mHeight;
    t->mFrameRate = mFrameRate;
    t->mVideoFormat = mVideoFormat;
    t->mAudioFormat = mAudioFormat;
    t->mAudioChannels = mAudioChannels;
    t->mSampleRate = mSampleRate;
    t->mBitsPerSample = mBitsPerSample;
    t->mTagList = mTagList;
    t->mChannel = mChannel;
    t->mFrameKind = mFrameKind;
    t->mTime = mTime;
    t->mFrameNumber = mFrameNumber;
    t->mWait = mWait;
    t->mCovert = mCovert;
    t->mChannelMask = mChannelMask;
    t->mByteCount = mByteCount;
    t->mProfileId = mProfileId;
}

void CMediaObj::CloneMe(CMediaObj* target, int flag) const {
    if (target == nullptr || target == this)
        return;
    CopyHeaderTo(target);
    if (flag == kCloneHeader)
        return;
    int32_t size = mDataSize;
    const int32_t length = mpData != nullptr && mDataLength > 0 ? mDataLength : 0;
    const int32_t length2 = mpData2 != nullptr && mDataLength2 > 0 ? mDataLength2 : 0;
    if (length > 0)
        target->CopyData(mpData, length);
    else
        target->AttachData(nullptr, 0);
    if (length2 > 0)
        target->CopyData2(mpData2, length2);
    else
        target->AttachData2(nullptr, 0);
    // The data size may say more than the buffers hold (a receiver sets it
    // from the stream); the copy keeps what the source said.
    target->mDataSize = size;
}

CMediaObj* CMediaObj::CloneMeWithNewContent() const {
    auto* clone = new CMediaObj;
    CloneMe(clone, kCloneAll);
    return clone;
}

CMediaObj* CMediaObj::CloneMeSharingContent() const {
    // Borrowed buffers cannot be shared: their owner may free them.
    if (!mOwnsData)
        return CloneMeWithNewContent();
    auto* clone = new CMediaObj;
    CopyHeaderTo(clone);
    for (uint8_t* block : {mpData, mpData2})
        if (block != nullptr)
            HeaderOf(block)->holders.fetch_add(1, std::memory_order_relaxed);
    clone->mpData = mpData;
    clone->mpData2 = mpData2;
    clone->mDataLength = mDataLength;
    clone->mDataLength2 = mDataLength2;
    clone->mDataSize = mDataSize;
    clone->mOwnsData = 1;
    return clone;
}

int CMediaObj::Equals(const CMediaObj* o) const {
    if (o == nullptr)
        return 0;
    if (o == this)
        return 1;
    bool same = mWidth == o->mWidth && mHeight == o->mHeight && mFrameRate == o->mFrameRate &&
                mVideoFormat == o->mVideoFormat && mAudioFormat == o->mAudioFormat &&
                mAudioChannels == o->mAudioChannels && mSampleRate == o->mSampleRate &&
                mBitsPerSample == o->mBitsPerSample && mDataSize == o->mDataSize && mTagList == o->mTagList &&
                mChannel == o->mChannel && mFrameKind == o->mFrameKind &&
                memcmp(&mTime, &o->mTime, sizeof(mTime)) == 0 && mFrameNumber == o->mFrameNumber &&
                mWait == o->mWait && mCovert == o->mCovert && mChannelMask == o->mChannelMask &&
                mByteCount == o->mByteCount && mProfileId == o->mProfileId;
    if (!same)
        return 0;
    auto sameBytes = [](const uint8_t* a, int32_t la, const uint8_t* b, int32_t lb) {
        la = a != nullptr && la > 0 ? la : 0;
        lb = b != nullptr && lb > 0 ? lb : 0;
        return la == lb && (la == 0 || memcmp(a, b, size_t(la)) == 0);
    };
    return sameBytes(mpData, mDataLength, o->mpData, o->mDataLength) &&
                   sameBytes(mpData2, mDataLength2, o->mpData2, o->mDataLength2)
               ? 1
               : 0;
}

int32_t CMediaObj::TagAt(size_t index) const {
    if (index >= mTagList.size())
        throw std::out_of_range("invalid vector<T> subscript");
    return mTagList[index];
}

int32_t CMediaObj::GetFrameTime(int32_t frameRateCode) {
    int64_t code = frameRateCode < 0 ? -int64_t(frameRateCode) : int64_t(frameRateCode);
    if (code == 0)
        return 0;
    int64_t ms = 1000000 / code;
    return ms > kMaxFrameTimeMs ? kMaxFrameTimeMs : int32_t(ms);
}

int CMediaObj::SplitVolAndIFrame(const CMediaObj* source, CMediaObj** out) {
    if (out == nullptr)
        return 0;
    *out = nullptr;
    if (source == nullptr || source->mFrameKind != kFrameKeyWithConfig || source->mpData == nullptr ||
        source->mDataLength <= 0)
        return 0;
    const uint8_t* data = source->mpData;
    const int32_t length = source->mDataLength;
    std::vector<uint8_t> config;
    if (source->mVideoFormat == kVideoMpeg4) {
        // The configuration (video object, VOL, and whatever headers come
        // before the picture) ends where the first GOV or VOP starts.
        int32_t at = 0;
        uint8_t code = 0;
        int32_t from = 0;
        int32_t cut = -1;
        while (FindStartCode(data, length, from, &at, &code)) {
            if (code == 0xB3 || code == 0xB6) {
                cut = at;
                break;
            }
            from = at + 3;
        }
        if (cut <= 0)
            return 0;
        config.assign(data, data + cut);
    } else if (source->mVideoFormat == kVideoH264QBox) {
        QBox box{};
        int32_t offset = 0;
        std::vector<uint8_t> parameterSets;
        uint16_t streamId = 0;
        uint32_t cts = 0;
        bool first = true;
        while (NextQBox(data, length, offset, &box)) {
            if (first) {
                streamId = uint16_t((box.box[14] << 8) | box.box[15]);
                cts = ReadBE32(box.box + 20);
                first = false;
            }
            if (box.streamType == kQBoxStreamH264) {
                if (box.flags & kQBoxFlagConfig)
                    config.insert(config.end(), box.box, box.box + box.size);
                else
                    CollectParameterSets(box.payload, box.payloadLength, &parameterSets);
            }
            offset += box.size;
        }
        if (config.empty() && !parameterSets.empty()) {
            // The device put SPS and PPS into the key frame's own box: give
            // late joiners a configuration box of their own.
            config.resize(size_t(kQBoxHeaderSize));
            uint8_t* h = config.data();
            WriteBE32(h, uint32_t(kQBoxHeaderSize + parameterSets.size()));
            memcpy(h + 4, "qbox", 4);
            WriteBE32(h + 8, 0);
            h[12] = 0;
            h[13] = uint8_t(kQBoxStreamH264);
            h[14] = uint8_t(streamId >> 8);
            h[15] = uint8_t(streamId);
            WriteBE32(h + 16, kQBoxFlagConfig | kQBoxFlagCtsValid);
            WriteBE32(h + 20, cts);
            config.insert(config.end(), parameterSets.begin(), parameterSets.end());
        }
    } else {
        return 0;
    }
    if (config.empty() || config.size() > size_t(kMaxDataSize))
        return 0;
    auto* vol = new CMediaObj;
    source->CloneMe(vol, kCloneHeader);
    if (!vol->CopyData(config.data(), int32_t(config.size()))) {
        delete vol;
        return 0;
    }
    *out = vol;
    return 1;
}

int CMediaObj::ExtractQBox(const uint8_t* source, uint8_t* target, int32_t sourceLength, int32_t* outLength) {
    if (outLength != nullptr)
        *outLength = 0;
    if (source == nullptr || target == nullptr || outLength == nullptr || sourceLength <= 0)
        return 0;
    QBox box{};
    int32_t offset = 0;
    int32_t written = 0;
    bool any = false;
    while (NextQBox(source, sourceLength, offset, &box)) {
        any = true;
        if (box.streamType == kQBoxStreamH264 && box.payloadLength > 0) {
            // memmove: a caller may extract in place, into its own input.
            memmove(target + written, box.payload, size_t(box.payloadLength));
            written += box.payloadLength;
        }
        offset += box.size;
    }
    *outLength = written;
    return any ? 1 : 0;
}

} // namespace media_util
