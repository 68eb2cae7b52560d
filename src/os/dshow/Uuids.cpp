// The identifiers of the DirectShow classes, interfaces and media types, as
// published by DirectShow, so that traces and tests name the same things a
// Windows developer would.
#include "os/dshow/DShow.h"

#include <cstring>

namespace {

// {XXXXXXXX-0000-0010-8000-00AA00389B71}: media subtypes made from a FOURCC
// or a wave format tag.
constexpr GUID FourCCGuid(uint32_t code) {
    return GUID{code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

} // namespace

const GUID MEDIATYPE_Video = FourCCGuid(0x73646976); // 'vids'
const GUID MEDIATYPE_Audio = FourCCGuid(0x73647561); // 'auds'
const GUID MEDIASUBTYPE_RGB565 = {
    0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID MEDIASUBTYPE_RGB24 = {
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID MEDIASUBTYPE_RGB32 = {
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID MEDIASUBTYPE_IYUV = FourCCGuid(0x56555949); // 'IYUV'
const GUID MEDIASUBTYPE_MJPG = FourCCGuid(0x47504A4D); // 'MJPG'
const GUID MEDIASUBTYPE_MP4V = FourCCGuid(0x5634504D); // 'MP4V'
const GUID MEDIASUBTYPE_H264 = FourCCGuid(0x34363248); // 'H264'
const GUID MEDIASUBTYPE_PCM = FourCCGuid(0x0001);      // WAVE_FORMAT_PCM
const GUID MEDIASUBTYPE_MULAW = FourCCGuid(0x0007);    // WAVE_FORMAT_MULAW
const GUID MEDIASUBTYPE_G726 = FourCCGuid(0x0064);     // WAVE_FORMAT_G726_ADPCM
const GUID MEDIASUBTYPE_RAW_AAC1 = FourCCGuid(0x00FF); // raw AAC

const CLSID CLSID_FilterGraph = {
    0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const CLSID CLSID_ACMWrapper = {0x6A08CF80, 0x0E18, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};
const CLSID CLSID_DSoundRender = {
    0x79376820, 0x07D0, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};
const CLSID CLSID_VideoRendererDefault = {
    0x6BC1CFFA, 0x8FC1, 0x4261, {0xAC, 0x22, 0xCF, 0xB4, 0xCC, 0x38, 0xDB, 0x50}};
const CLSID CLSID_VideoMixingRenderer9 = {
    0x51B4ABF3, 0x748F, 0x4E3B, {0xA2, 0x76, 0xC8, 0x28, 0x33, 0x0E, 0x92, 0x6A}};
const CLSID CLSID_VideoRenderer = {
    0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const CLSID CLSID_Colour = {0x1643E180, 0x90F5, 0x11CE, {0x97, 0xD5, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// The DirectShow core interfaces share one family of identifiers.
#define IPCAM_QUARTZ_IID(name, d1)                                                                           \
    const IID name = {d1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}}
IPCAM_QUARTZ_IID(IID_IPin, 0x56A86891);
IPCAM_QUARTZ_IID(IID_IEnumPins, 0x56A86892);
IPCAM_QUARTZ_IID(IID_IEnumFilters, 0x56A86893);
IPCAM_QUARTZ_IID(IID_IBaseFilter, 0x56A86895);
IPCAM_QUARTZ_IID(IID_IReferenceClock, 0x56A86897);
IPCAM_QUARTZ_IID(IID_IMediaFilter, 0x56A86899);
IPCAM_QUARTZ_IID(IID_IMemInputPin, 0x56A8689D);
IPCAM_QUARTZ_IID(IID_IFilterGraph, 0x56A8689F);
IPCAM_QUARTZ_IID(IID_IGraphBuilder, 0x56A868A9);
IPCAM_QUARTZ_IID(IID_IMediaControl, 0x56A868B1);
IPCAM_QUARTZ_IID(IID_IVideoWindow, 0x56A868B4);
IPCAM_QUARTZ_IID(IID_IBasicVideo, 0x56A868B5);
IPCAM_QUARTZ_IID(IID_IMediaEvent, 0x56A868B6);
IPCAM_QUARTZ_IID(IID_IMediaEventEx, 0x56A868C0);
IPCAM_QUARTZ_IID(IID_IMediaEventSink, 0x56A868A2);
#undef IPCAM_QUARTZ_IID

const IID IID_IVMRFilterConfig = {
    0x9E5530C5, 0x7034, 0x48B4, {0xBB, 0x46, 0x0B, 0x8A, 0x6E, 0xFC, 0x8E, 0x36}};
const IID IID_IVMRFilterConfig9 = {
    0x5A804648, 0x4F66, 0x4867, {0x9C, 0x43, 0x4F, 0x5C, 0x82, 0x2C, 0xF1, 0xB8}};
const IID IID_IVMRMixerControl = {
    0x1C1A17B0, 0xBED0, 0x415D, {0x97, 0x4B, 0xDC, 0x66, 0x96, 0x13, 0x15, 0x99}};
const IID IID_IVMRMixerControl9 = {
    0x1A777EAA, 0x47C8, 0x4930, {0xB2, 0xC9, 0x8F, 0xEE, 0x1C, 0x1B, 0x0F, 0x3B}};
const IID IID_IVMRMixerBitmap = {
    0x1E673275, 0x0257, 0x40AA, {0xAF, 0x20, 0x7C, 0x60, 0x8D, 0x4A, 0x04, 0x28}};
const IID IID_IVMRMixerBitmap9 = {
    0xCED175E5, 0x1935, 0x4820, {0x81, 0xBD, 0xFF, 0x6A, 0xD0, 0x0C, 0x91, 0x08}};
const IID IID_IVMRWindowlessControl9 = {
    0x8F537D09, 0xF85E, 0x4414, {0xB2, 0x3B, 0x50, 0x2E, 0x54, 0xC7, 0x99, 0x27}};
const IID IID_IVMRAspectRatioControl = {
    0xEDE80B5C, 0xBAD6, 0x4623, {0xB5, 0x37, 0x65, 0x58, 0x6C, 0x9F, 0x8D, 0xFD}};
const IID IID_IVMRAspectRatioControl9 = {
    0x00D96C29, 0xBBDE, 0x4EFC, {0x99, 0x01, 0xBB, 0x50, 0x36, 0x39, 0x21, 0x46}};

// Ours.
const IID IID_IVideoScaleHint = {
    0x3F6B2C1E, 0x9D47, 0x4A85, {0xB1, 0x6E, 0x52, 0x0C, 0x8A, 0x7D, 0x14, 0xE3}};
const IID IID_IVideoDirectTarget = {
    0x6A0D93B4, 0x51C2, 0x47E8, {0x8B, 0x2F, 0x07, 0xD4, 0x6E, 0x95, 0xA1, 0x3C}};

namespace os::dshow {

const char* IidName(REFIID iid) {
    static const struct {
        const IID* iid;
        const char* name;
    } kNames[] = {
        {&IID_IUnknown, "IID_IUnknown"},
        {&IID_IPin, "IID_IPin"},
        {&IID_IMemInputPin, "IID_IMemInputPin"},
        {&IID_IEnumPins, "IID_IEnumPins"},
        {&IID_IEnumFilters, "IID_IEnumFilters"},
        {&IID_IReferenceClock, "IID_IReferenceClock"},
        {&IID_IMediaFilter, "IID_IMediaFilter"},
        {&IID_IBaseFilter, "IID_IBaseFilter"},
        {&IID_IFilterGraph, "IID_IFilterGraph"},
        {&IID_IGraphBuilder, "IID_IGraphBuilder"},
        {&IID_IMediaControl, "IID_IMediaControl"},
        {&IID_IMediaEvent, "IID_IMediaEvent"},
        {&IID_IMediaEventEx, "IID_IMediaEventEx"},
        {&IID_IMediaEventSink, "IID_IMediaEventSink"},
        {&IID_IVideoWindow, "IID_IVideoWindow"},
        {&IID_IBasicVideo, "IID_IBasicVideo"},
        {&IID_IVMRFilterConfig, "IID_IVMRFilterConfig"},
        {&IID_IVMRFilterConfig9, "IID_IVMRFilterConfig9"},
        {&IID_IVMRMixerControl, "IID_IVMRMixerControl"},
        {&IID_IVMRMixerControl9, "IID_IVMRMixerControl9"},
        {&IID_IVMRMixerBitmap, "IID_IVMRMixerBitmap"},
        {&IID_IVMRMixerBitmap9, "IID_IVMRMixerBitmap9"},
        {&IID_IVMRWindowlessControl9, "IID_IVMRWindowlessControl9"},
        {&IID_IVMRAspectRatioControl, "IID_IVMRAspectRatioControl"},
        {&IID_IVMRAspectRatioControl9, "IID_IVMRAspectRatioControl9"},
        {&IID_IVideoScaleHint, "IID_IVideoScaleHint"},
        {&IID_IVideoDirectTarget, "IID_IVideoDirectTarget"},
    };
    for (const auto& n : kNames) {
        if (*n.iid == iid)
            return n.name;
    }
    return nullptr;
}

AM_MEDIA_TYPE MakeMediaType(REFGUID major, REFGUID sub) {
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0, sizeof mt);
    mt.majortype = major;
    mt.subtype = sub;
    return mt;
}

} // namespace os::dshow
