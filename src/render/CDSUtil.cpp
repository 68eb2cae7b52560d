#include "render/CDSUtil.h"

#include <vector>

namespace {

// Every filter of the graph (counted; the caller releases them).
std::vector<IBaseFilter*> FiltersOf(IGraphBuilder* graph) {
    std::vector<IBaseFilter*> filters;
    IEnumFilters* list = nullptr;
    if (FAILED(graph->EnumFilters(&list)))
        return filters;
    IBaseFilter* f = nullptr;
    while (list->Next(1, &f, nullptr) == S_OK)
        filters.push_back(f);
    list->Release();
    return filters;
}

} // namespace

HRESULT CDSUtil::AddFilterByCLSID(IGraphBuilder* graph, REFCLSID clsid, LPCWSTR name, IBaseFilter** filter) {
    if (graph == nullptr || filter == nullptr)
        return E_POINTER;
    *filter = nullptr;
    IBaseFilter* f = nullptr;
    HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&f));
    if (FAILED(hr))
        return hr;
    hr = graph->AddFilter(f, name);
    if (FAILED(hr)) {
        f->Release();
        return hr;
    }
    *filter = f;
    return S_OK;
}

HRESULT CDSUtil::GetUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
    if (filter == nullptr || pin == nullptr)
        return E_POINTER;
    *pin = nullptr;
    IEnumPins* pins = nullptr;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    IPin* p = nullptr;
    while (pins->Next(1, &p, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        p->QueryDirection(&dir);
        if (dir == direction) {
            IPin* peer = nullptr;
            if (SUCCEEDED(p->ConnectedTo(&peer))) {
                peer->Release();
            } else {
                pins->Release();
                *pin = p;
                return S_OK;
            }
        }
        p->Release();
    }
    pins->Release();
    return VFW_E_NOT_FOUND;
}

HRESULT CDSUtil::ConnectFilters(IGraphBuilder* graph, IPin* out, IBaseFilter* dest) {
    if (graph == nullptr || out == nullptr || dest == nullptr)
        return E_POINTER;
    IPin* in = nullptr;
    HRESULT hr = GetUnconnectedPin(dest, PINDIR_INPUT, &in);
    if (FAILED(hr))
        return hr;
    hr = graph->Connect(out, in);
    in->Release();
    return hr;
}

HRESULT CDSUtil::ConnectFilters(IGraphBuilder* graph, IBaseFilter* src, IBaseFilter* dest) {
    if (graph == nullptr || src == nullptr || dest == nullptr)
        return E_POINTER;
    IPin* out = nullptr;
    HRESULT hr = GetUnconnectedPin(src, PINDIR_OUTPUT, &out);
    if (FAILED(hr))
        return hr;
    hr = ConnectFilters(graph, out, dest);
    out->Release();
    return hr;
}

HRESULT CDSUtil::DisconnectAllFilter(IGraphBuilder* graph) {
    if (graph == nullptr)
        return E_POINTER;
    std::vector<IBaseFilter*> filters = FiltersOf(graph);
    for (IBaseFilter* f : filters) {
        IEnumPins* pins = nullptr;
        if (SUCCEEDED(f->EnumPins(&pins))) {
            IPin* p = nullptr;
            while (pins->Next(1, &p, nullptr) == S_OK) {
                IPin* peer = nullptr;
                if (SUCCEEDED(p->ConnectedTo(&peer))) {
                    graph->Disconnect(peer);
                    peer->Release();
                }
                graph->Disconnect(p);
                p->Release();
            }
            pins->Release();
        }
        f->Release();
    }
    return S_OK;
}

HRESULT CDSUtil::RemoveAllFilter(IGraphBuilder* graph) {
    if (graph == nullptr)
        return E_POINTER;
    std::vector<IBaseFilter*> filters = FiltersOf(graph);
    HRESULT result = S_OK;
    for (IBaseFilter* f : filters) {
        HRESULT hr = graph->RemoveFilter(f);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        f->Release();
    }
    return result;
}
