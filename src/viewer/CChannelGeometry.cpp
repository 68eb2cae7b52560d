#include "viewer/CChannelGeometry.h"

#include <algorithm>

bool CChannelGeometry::IsDualPictureDevice(int32_t machineCode) {
    return machineCode == kDualPictureH264 || machineCode == kDualPictureJpeg;
}

SRect CChannelGeometry::PictureRect(int32_t width, int32_t height, bool dualPicture, int32_t channel) {
    SRect rect;
    rect.right = width;
    rect.bottom = height;
    if (!dualPicture)
        return rect;
    // Odd channels (1, 3) sit in the lower half, even ones in the upper half.
    const int32_t half = (height - kDualPictureBand) / 2;
    if (channel % 2 != 0) {
        rect.top = half + kDualPictureBand;
        rect.bottom = height;
    } else {
        rect.top = kDualPictureBand;
        rect.bottom = half;
    }
    return rect;
}

SRect CChannelGeometry::ApplyCrop(const SRect& picture, const SRect& crop) {
    if (crop.right == 0)
        return picture;
    SRect rect;
    rect.left = picture.left + crop.left;
    rect.top = picture.top + crop.top;
    rect.right = rect.left + (crop.right - crop.left);
    rect.bottom = rect.top + (crop.bottom - crop.top);
    rect.left = std::min(rect.left, picture.right);
    rect.right = std::min(rect.right, picture.right);
    rect.top = std::min(rect.top, picture.bottom);
    rect.bottom = std::min(rect.bottom, picture.bottom);
    return rect;
}

void CChannelGeometry::AdjustDisplayFormat(int32_t sourceCodec, int32_t outputFormat,
                                           media_util::CMediaObj* display) {
    if (display == nullptr)
        return;
    switch (sourceCodec) {
    case media_util::kVideoJpeg:
    case media_util::kVideoMpeg4:
        if (outputFormat != 0) {
            display->mVideoFormat = outputFormat;
            return;
        }
        display->mVideoFormat = kDefaultDisplayFormat;
        break;
    case media_util::kVideoH264QBox:
        display->mVideoFormat = outputFormat != 0 ? outputFormat : kDefaultDisplayFormat;
        break;
    default:
        return;
    }
    // The decoder writes top-down rows when asked with a negative height.
    if (display->mHeight > 0)
        display->mHeight = -display->mHeight;
}
