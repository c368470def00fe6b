#include "platform/media/core/capturebuilder.h"

#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/pinutil.h"

namespace ronvix::media {

using namespace com;

namespace {

bool IsSmartTee(IBaseFilter* filter) {
    GUID clsid{};
    return filter && SUCCEEDED(filter->GetClassID(&clsid)) && clsid == CLSID_SmartTee;
}

ComPtr<IPin> NamedPin(IBaseFilter* filter, std::u16string_view name) {
    ComPtr<IPin> pin;
    const std::u16string text(name);
    if (filter)
        filter->FindPin(text.c_str(), pin.ReleaseAndGetAddressOf());
    return pin;
}

class CaptureGraphBuilder final : public ComObject<ICaptureGraphBuilder2> {
public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override;
    HRESULT GetFiltergraph(IGraphBuilder** graph) override;
    HRESULT SetOutputFileName(const GUID* type, LPCWSTR file, IBaseFilter** mux,
                              IFileSinkFilter** sink) override;
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                          void** out) override;
    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override;
    HRESULT ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                          WORD, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT AllocCapFile(LPCWSTR, LONGLONG) override { return E_NOTIMPL; }
    HRESULT CopyCaptureFile(LPWSTR, LPWSTR, int, IUnknown*) override { return E_NOTIMPL; }
    HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                    BOOL unconnected, int index, IPin** pin) override;

private:
    IGraphBuilder* Graph();
    // The pin of `filter` that a stream of `category`/`type` starts from.
    // `through_tee` is set when a Smart Tee stands in for a preview pin.
    HRESULT SourcePin(IBaseFilter* filter, const GUID* category, const GUID* type,
                      ComPtr<IPin>* pin, bool* through_tee);
    // Connects `out` to the first input pin of `filter` that takes it,
    // inserting transforms as needed.
    HRESULT ConnectToFilter(IPin* out, IBaseFilter* filter);

    ComPtr<IGraphBuilder> m_graph;
};

IGraphBuilder* CaptureGraphBuilder::Graph() {
    if (!m_graph)
        CreateFilterGraph().As(&m_graph);
    return m_graph.Get();
}

HRESULT CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
    if (!graph)
        return E_POINTER;
    if (m_graph)
        return E_UNEXPECTED;
    m_graph = graph;
    return S_OK;
}

HRESULT CaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
    if (!graph)
        return E_POINTER;
    *graph = Graph();
    if (!*graph)
        return E_OUTOFMEMORY;
    (*graph)->AddRef();
    return S_OK;
}

HRESULT CaptureGraphBuilder::SetOutputFileName(const GUID* type, LPCWSTR file, IBaseFilter** mux,
                                               IFileSinkFilter** sink) {
    if (!type || !file)
        return E_POINTER;
    if (mux)
        *mux = nullptr;
    if (sink)
        *sink = nullptr;
    if (*type != MEDIASUBTYPE_Avi)
        return E_INVALIDARG;  // AVI is the one container offered.
    // The multiplexer and the writer come from the class registry; until
    // they are registered this fails with REGDB_E_CLASSNOTREG and adds
    // nothing to the graph.
    ComPtr<IBaseFilter> avi_mux, writer;
    HRESULT hr = CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                                  avi_mux.OutVoid());
    if (FAILED(hr))
        return hr;
    hr = CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                          writer.OutVoid());
    if (FAILED(hr))
        return hr;
    ComPtr<IFileSinkFilter> file_sink = writer.As<IFileSinkFilter>();
    if (!file_sink)
        return E_NOINTERFACE;
    hr = file_sink->SetFileName(file, nullptr);
    if (FAILED(hr))
        return hr;
    IGraphBuilder* graph = Graph();
    if (FAILED(hr = graph->AddFilter(avi_mux.Get(), u"AVI Mux")))
        return hr;
    if (FAILED(hr = graph->AddFilter(writer.Get(), file))) {
        graph->RemoveFilter(avi_mux.Get());
        return hr;
    }
    hr = VFW_E_CANNOT_CONNECT;
    for (ComPtr<IPin>& out : FilterPins(avi_mux.Get())) {
        if (PinDirection(out.Get()) != PINDIR_OUTPUT)
            continue;
        hr = ConnectToFilter(out.Get(), writer.Get());
        break;
    }
    if (FAILED(hr)) {
        graph->RemoveFilter(writer.Get());
        graph->RemoveFilter(avi_mux.Get());
        return hr;
    }
    if (mux)
        *mux = avi_mux.Detach();
    if (sink)
        *sink = file_sink.Detach();
    return S_OK;
}

HRESULT CaptureGraphBuilder::FindInterface(const GUID* category, const GUID* type,
                                           IBaseFilter* filter, REFIID riid, void** out) {
    if (!filter || !out)
        return E_POINTER;
    *out = nullptr;
    // The pins that carry the stream asked for, then the filter itself.
    for (ComPtr<IPin>& pin : FilterPins(filter)) {
        if (category && *category != GUID_NULL && PinCategory(pin.Get()) != *category)
            continue;
        if (type && *type != GUID_NULL && !PinHasMajorType(pin.Get(), *type))
            continue;
        if (SUCCEEDED(pin->QueryInterface(riid, out)))
            return S_OK;
    }
    if (SUCCEEDED(filter->QueryInterface(riid, out)))
        return S_OK;
    return E_NOINTERFACE;
}

HRESULT CaptureGraphBuilder::FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                                     const GUID* type, BOOL unconnected, int index, IPin** pin) {
    if (!source || !pin)
        return E_POINTER;
    *pin = nullptr;
    ComPtr<IBaseFilter> filter;
    if (FAILED(source->QueryInterface(IBaseFilter::iid, filter.OutVoid()))) {
        ComPtr<IPin> as_pin;
        if (FAILED(source->QueryInterface(IPin::iid, as_pin.OutVoid())))
            return E_NOINTERFACE;
        filter = PinFilter(as_pin.Get());
    }
    int seen = 0;
    for (ComPtr<IPin>& p : FilterPins(filter.Get())) {
        if (PinDirection(p.Get()) != dir)
            continue;
        if (category && *category != GUID_NULL && PinCategory(p.Get()) != *category)
            continue;
        if (type && *type != GUID_NULL && !PinHasMajorType(p.Get(), *type))
            continue;
        if (unconnected && PinIsConnected(p.Get()))
            continue;
        if (seen++ == index) {
            *pin = p.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT CaptureGraphBuilder::SourcePin(IBaseFilter* filter, const GUID* category, const GUID* type,
                                       ComPtr<IPin>* pin, bool* through_tee) {
    *through_tee = false;
    auto find = [&](const GUID& cat, bool unconnected) {
        ComPtr<IPin> p;
        FindPin(filter, PINDIR_OUTPUT, &cat, type, unconnected, 0, p.ReleaseAndGetAddressOf());
        return p;
    };
    // A capture pin feeding a Smart Tee that this builder put there: the
    // stream continues from the Tee's output of the same name.
    auto tee_behind = [&](IPin* capture) -> ComPtr<IBaseFilter> {
        ComPtr<IPin> peer;
        if (FAILED(capture->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer)
            return nullptr;
        ComPtr<IBaseFilter> tee = PinFilter(peer.Get());
        return IsSmartTee(tee.Get()) ? tee : nullptr;
    };

    const bool preview = category && *category == PIN_CATEGORY_PREVIEW;
    const bool capture = category && *category == PIN_CATEGORY_CAPTURE;
    if (!preview && !capture) {
        ComPtr<IPin> p = find(category ? *category : GUID_NULL, true);
        if (!p)
            return VFW_E_NOT_FOUND;
        *pin = p;
        return S_OK;
    }
    if (preview) {
        if (ComPtr<IPin> p = find(PIN_CATEGORY_PREVIEW, true)) {
            *pin = p;
            return S_OK;
        }
        if (find(PIN_CATEGORY_PREVIEW, false))
            return VFW_E_ALREADY_CONNECTED;
    }
    ComPtr<IPin> capture_pin = find(PIN_CATEGORY_CAPTURE, false);
    if (!capture_pin)
        return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> tee = tee_behind(capture_pin.Get());
    if (!tee && PinIsConnected(capture_pin.Get()))
        return VFW_E_ALREADY_CONNECTED;
    if (!tee && capture) {
        *pin = capture_pin;
        return S_OK;
    }
    if (!tee) {
        // No preview pin: split the capture stream with a Smart Tee.
        HRESULT hr = CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC_SERVER,
                                      IBaseFilter::iid, tee.OutVoid());
        if (FAILED(hr))
            return hr;
        if (FAILED(hr = Graph()->AddFilter(tee.Get(), u"Smart Tee")))
            return hr;
        if (FAILED(hr = ConnectToFilter(capture_pin.Get(), tee.Get()))) {
            Graph()->RemoveFilter(tee.Get());
            return hr;
        }
    }
    ComPtr<IPin> out = NamedPin(tee.Get(), preview ? u"Preview" : u"Capture");
    if (!out)
        return VFW_E_NOT_FOUND;
    if (PinIsConnected(out.Get()))
        return VFW_E_ALREADY_CONNECTED;
    *through_tee = preview;
    *pin = out;
    return S_OK;
}

HRESULT CaptureGraphBuilder::ConnectToFilter(IPin* out, IBaseFilter* filter) {
    HRESULT hr = VFW_E_CANNOT_CONNECT;
    for (ComPtr<IPin>& in : FilterPins(filter)) {
        if (PinDirection(in.Get()) != PINDIR_INPUT || PinIsConnected(in.Get()))
            continue;
        hr = Graph()->Connect(out, in.Get());
        if (SUCCEEDED(hr))
            return hr;
    }
    return hr;
}

HRESULT CaptureGraphBuilder::RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                          IBaseFilter* intermediate, IBaseFilter* sink) {
    if (!source)
        return E_POINTER;
    IGraphBuilder* graph = Graph();
    if (!graph)
        return E_UNEXPECTED;
    ComPtr<IPin> start;
    bool through_tee = false;
    ComPtr<IPin> as_pin;
    if (SUCCEEDED(source->QueryInterface(IPin::iid, as_pin.OutVoid()))) {
        if (PinDirection(as_pin.Get()) != PINDIR_OUTPUT)
            return VFW_E_INVALID_DIRECTION;
        if (PinIsConnected(as_pin.Get()))
            return VFW_E_ALREADY_CONNECTED;
        start = as_pin;
    } else {
        ComPtr<IBaseFilter> filter;
        if (FAILED(source->QueryInterface(IBaseFilter::iid, filter.OutVoid())))
            return E_NOINTERFACE;
        HRESULT hr = SourcePin(filter.Get(), category, type, &start, &through_tee);
        if (FAILED(hr))
            return hr;
    }
    const HRESULT ok = through_tee ? VFW_S_NOPREVIEWPIN : S_OK;

    if (!intermediate && !sink) {
        const HRESULT hr = graph->Render(start.Get());
        return FAILED(hr) ? hr : ok;
    }
    if (!intermediate) {
        const HRESULT hr = ConnectToFilter(start.Get(), sink);
        return FAILED(hr) ? hr : ok;
    }
    HRESULT hr = ConnectToFilter(start.Get(), intermediate);
    if (FAILED(hr))
        return hr;
    // The intermediate filter's free outputs in order, until one reaches the sink.
    hr = VFW_E_CANNOT_CONNECT;
    for (ComPtr<IPin>& out : FilterPins(intermediate)) {
        if (PinDirection(out.Get()) != PINDIR_OUTPUT || PinIsConnected(out.Get()))
            continue;
        hr = sink ? ConnectToFilter(out.Get(), sink) : graph->Render(out.Get());
        if (SUCCEEDED(hr))
            return ok;
    }
    return hr;
}

}  // namespace

HRESULT CreateCaptureGraphBuilderInstance(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    auto builder = MakeCom<CaptureGraphBuilder>();
    return builder->QueryInterface(riid, out);
}

}  // namespace ronvix::media
