// The colour space converter (CLSID_Colour): turns RGB24 and RGB565 pictures
// (and passes RGB32 ones) into RGB32, top-down, for a renderer that takes
// only the window surface's format. Intelligent connection puts it between a
// source and a renderer whose formats differ; it does not take I420.
//
// Threads: Receive on the delivering thread; connection on the owner's.
#pragma once

#include "os/compose/CComposeContext.h"
#include "os/dshow/CBaseFilter.h"

#include <memory>
#include <vector>

namespace os::dshow {

class CColourConverter : public CBaseFilter {
public:
    static HRESULT Create(REFIID iid, void** out);

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int index) override;

    // Called by the input pin.
    HRESULT Transform(const CMediaSample& sample);

private:
    class CInputPin;
    class COutputPin;

    CColourConverter();
    ~CColourConverter() override;

    std::unique_ptr<CInputPin> mpInput;
    std::unique_ptr<COutputPin> mpOutput;
    std::vector<uint8_t> mBuffer; // the converted picture; guarded by mLock
    CComposeContext mCompose;
};

} // namespace os::dshow
