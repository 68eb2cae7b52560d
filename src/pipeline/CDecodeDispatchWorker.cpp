#include "pipeline/CDecodeDispatchWorker.h"

#include "platform/CLockWrap.h"
#include "render/CVideoDecoder.h"

using media_util::CMediaObj;
using media_util::IMediaQueue;

CDecodeDispatchWorker::~CDecodeDispatchWorker() {
    Stop();
    delete mpSecondary;
}

void CDecodeDispatchWorker::SetDecoders(CVideoDecoder* decoder) {
    media_util::CLockWrap lock(mLock);
    mpPrimary = decoder;
    delete mpSecondary;
    mpSecondary = nullptr;
    if (decoder != nullptr && mMachineCode == kMachineCodeTwoStreams)
        mpSecondary = CVideoDecoder::CreateDecoderFrom(decoder);
}

void CDecodeDispatchWorker::Dispatch(CMediaObj* object) {
    CMediaObj* picture = object;
    if (object->mVideoFormat != media_util::kVideoNone && mpPrimary != nullptr) {
        // Channels 3 and 4 of the two-stream recorder come in their own
        // stream; a decoder made later for a code that changed is not there,
        // and the primary serves then.
        const bool second = mpSecondary != nullptr && mMachineCode == kMachineCodeTwoStreams &&
                            (object->mChannel == 3 || object->mChannel == 4);
        CVideoDecoder* decoder = second ? mpSecondary : mpPrimary;
        picture = nullptr;
        decoder->DecodeAndTake(object, &picture);
    }
    if (picture == nullptr)
        return;
    if (picture != object)
        ++mPictures;
    // A picture of two channels (the recorders' split pictures) goes to the
    // queues of both, as undecoded objects do.
    for (IMediaQueue* queue : mDestinations) {
        if (queue->mInactive.load() != 0 || !Accepts(queue, *picture))
            continue;
        // Pictures are large and read-only downstream: every channel holds
        // the one decoded buffer instead of a copy of its own.
        CMediaObj* clone = picture->CloneMeSharingContent();
        if (clone == nullptr)
            continue;
        clone->mChannel = queue->mChannel.load();
        if (!queue->Enque(clone))
            delete clone;
    }
    if (picture != object)
        delete picture;
}
