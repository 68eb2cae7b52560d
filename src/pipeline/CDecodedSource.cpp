#include "pipeline/CDecodedSource.h"

#include "pipeline/CSourceTable.h"
#include "render/CVideoDecoder.h"

CDecodedSource::CDecodedSource(const CSourceDesc& desc, CSourceTable& table)
    : CSharedSource(desc), mTable(table), mInnerDesc(desc) {
    mpDispatcher = &mDispatcher;
    // The inner live source delivers every channel of the stream here; the
    // decoding dispatcher sorts the pictures out to the channels.
    mInputQueue.mChannel = 0;
    mDispatcher.SetInputQueue(&mInputQueue);
    mDispatcher.SetMachineCode(desc.mMachineCode);
    mInnerDesc.mpQueue = &mInputQueue;
    mInnerDesc.mSlot = -1;
}

CDecodedSource::~CDecodedSource() {
    Stop();
    mDispatcher.SetDecoders(nullptr);
    mDispatcher.SetInputQueue(nullptr);
    delete mpDecoder;
}

std::string CDecodedSource::SharedPart(const std::string& url, int32_t machineCode) {
    const size_t question = url.find('?');
    if (question == std::string::npos || question == 0)
        return url;
    if (machineCode == CDecodeDispatchWorker::kMachineCodeTwoStreams &&
        url.size() > question + kTwoStreamQueryKeep)
        return url.substr(0, question + kTwoStreamQueryKeep);
    return url.substr(0, question);
}

bool CDecodedSource::Matches(const CSourceDesc& desc) {
    if (desc.mSourceKind != CSourceDesc::kKindUrl || mDesc.mSourceKind != CSourceDesc::kKindUrl)
        return false;
    return SharedPart(desc.mUrl, desc.mMachineCode) == SharedPart(mDesc.mUrl, desc.mMachineCode);
}

void CDecodedSource::SetDecodeSpec(const CVideoDecoder* spec) {
    mDispatcher.SetDecoders(nullptr);
    delete mpDecoder;
    mpDecoder = spec != nullptr ? CVideoDecoder::CreateDecoderFrom(spec) : nullptr;
    mDispatcher.SetDecoders(mpDecoder);
}

void CDecodedSource::Start() {
    Stop();
    mInnerSlot = mTable.Register(&mInnerDesc, true, kTypeLive, nullptr);
    if (mInnerSlot >= 0)
        mDispatcher.Start();
}

void CDecodedSource::Stop() {
    if (mInnerSlot < 0)
        return;
    mTable.Unregister(mInnerSlot, &mInputQueue);
    mInnerDesc.mSlot = -1;
    mInnerSlot = -1;
    mDispatcher.Stop();
}

bool CDecodedSource::EnsureRunning() {
    return mInnerSlot >= 0 && mTable.EnsureRunning(mInnerSlot) != 0;
}
