#include "os/dshow/CColourConverter.h"

#include "os/dshow/PictureDraw.h"

namespace os::dshow {

class CColourConverter::CInputPin : public CBaseInputPin {
public:
    explicit CInputPin(CColourConverter* filter) : CBaseInputPin(filter, L"Input"), mpConverter(filter) {}

    HRESULT Receive(const CMediaSample* sample) override {
        if (sample == nullptr)
            return E_POINTER;
        return mpConverter->Transform(*sample);
    }

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        if (mt.majortype != MEDIATYPE_Video || mt.biWidth <= 0 || mt.biHeight == 0)
            return S_FALSE;
        const int32_t code = PixelCodeOf(mt.subtype);
        return code == kComposeBgra || code == kComposeBgr24 || code == kComposeRgb565 ? S_OK : S_FALSE;
    }

private:
    CColourConverter* mpConverter;
};

class CColourConverter::COutputPin : public CBasePin {
public:
    explicit COutputPin(CColourConverter* filter)
        : CBasePin(filter, PINDIR_OUTPUT, L"XForm Out"), mpConverter(filter) {}

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        AM_MEDIA_TYPE offered;
        if (GetMediaType(0, &offered) != S_OK)
            return S_FALSE;
        return mt.majortype == offered.majortype && mt.subtype == offered.subtype &&
                       mt.biWidth == offered.biWidth && mt.biHeight == offered.biHeight
                   ? S_OK
                   : S_FALSE;
    }
    // RGB32 at the input's size, top-down; nothing until the input is connected.
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index != 0 || !mpConverter->mpInput->IsConnected())
            return S_FALSE;
        const AM_MEDIA_TYPE& in = mpConverter->mpInput->MediaType();
        *mt = MakeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32);
        mt->biWidth = in.biWidth;
        mt->biHeight = in.biHeight < 0 ? in.biHeight : -in.biHeight;
        return S_OK;
    }

private:
    CColourConverter* mpConverter;
};

HRESULT CColourConverter::Create(REFIID iid, void** out) {
    auto* filter = new CColourConverter();
    HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
}

CColourConverter::CColourConverter()
    : CBaseFilter(CLSID_Colour), mpInput(std::make_unique<CInputPin>(this)),
      mpOutput(std::make_unique<COutputPin>(this)) {}

CColourConverter::~CColourConverter() = default;

CBasePin* CColourConverter::GetPin(int index) {
    if (index == 0)
        return mpInput.get();
    if (index == 1)
        return mpOutput.get();
    return nullptr;
}

HRESULT CColourConverter::Transform(const CMediaSample& sample) {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (State() != State_Running)
        return S_FALSE;
    SComposePicture picture;
    if (!PictureOfSample(sample, PixelCodeOf(mpInput->MediaType().subtype), &picture))
        return E_INVALIDARG;
    const int32_t height = picture.mHeight < 0 ? -picture.mHeight : picture.mHeight;
    const int32_t stride = picture.mWidth * 4;
    mBuffer.resize(static_cast<size_t>(stride) * static_cast<size_t>(height));
    const SComposeSurface target{mBuffer.data(), picture.mWidth, height, stride};
    SComposeOptions options;
    options.mDestination = RECT{0, 0, picture.mWidth, height};
    if (!ComposePicture(mCompose, picture, target, options))
        return E_INVALIDARG;
    CMediaSample out = sample;
    out.pData = mBuffer.data();
    out.lLength = static_cast<LONG>(mBuffer.size());
    out.lHeight = -height;
    out.lStride = stride;
    return mpOutput->Deliver(out);
}

} // namespace os::dshow
