// Helpers for building a DirectShow graph: add a filter by class, find a
// free pin, connect a pin to a filter, and take a graph apart again.
//
// Results are the HRESULTs of the calls made, so that the renderer can
// trace the one that failed.
//
// Threads: the caller's; the graph is not shared while it is built.
#pragma once

#include "os/dshow/DShow.h"

class CDSUtil {
public:
    // Creates the class (CoCreateInstance, in-process) and adds it to the
    // graph under name. On success *filter holds a reference; on failure it
    // is null and nothing is left in the graph.
    static HRESULT AddFilterByCLSID(IGraphBuilder* graph, REFCLSID clsid, LPCWSTR name, IBaseFilter** filter);
    // The first pin of the filter in the direction that is not connected
    // (*pin counted), or VFW_E_NOT_FOUND.
    static HRESULT GetUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);
    // Connects out to the first free input pin of dest, through the graph's
    // intelligent connection.
    static HRESULT ConnectFilters(IGraphBuilder* graph, IPin* out, IBaseFilter* dest);
    // Connects the first free output pin of src to the first free input pin of dest.
    static HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* src, IBaseFilter* dest);
    // Breaks every connection of every filter in the graph.
    static HRESULT DisconnectAllFilter(IGraphBuilder* graph);
    // Removes every filter from the graph.
    static HRESULT RemoveAllFilter(IGraphBuilder* graph);
};
