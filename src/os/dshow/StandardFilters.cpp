// The classes CoCreateInstance knows from the start: the graph manager and
// the standard filters the renderers build their graphs from.
#include "os/dshow/CAcmWrapper.h"
#include "os/dshow/CColourConverter.h"
#include "os/dshow/CDSoundRenderer.h"
#include "os/dshow/CFilterGraph.h"
#include "os/dshow/CVideoRenderer.h"

namespace os::dshow {

void RegisterStandardFilters() {
    RegisterComClass(CLSID_FilterGraph, "CLSID_FilterGraph", &CFilterGraph::Create);
    RegisterComClass(CLSID_ACMWrapper, "CLSID_ACMWrapper", &CAcmWrapper::Create);
    RegisterComClass(CLSID_DSoundRender, "CLSID_DSoundRender", &CDSoundRenderer::Create);
    RegisterComClass(CLSID_VideoRendererDefault, "CLSID_VideoRendererDefault", &CVideoRenderer::CreateVmr7);
    RegisterComClass(CLSID_VideoMixingRenderer9, "CLSID_VideoMixingRenderer9", &CVideoRenderer::CreateVmr9);
    RegisterComClass(CLSID_VideoRenderer, "CLSID_VideoRenderer", &CVideoRenderer::CreateClassic);
    RegisterComClass(CLSID_Colour, "CLSID_Colour", &CColourConverter::Create);
}

} // namespace os::dshow
