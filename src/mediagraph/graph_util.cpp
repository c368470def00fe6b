#include "mediagraph/graph_util.h"

#include <algorithm>

#include "framework/format.h"
#include "mediagraph/mediatype.h"
#include "mediagraph/unavailable_interfaces.h"
#include "platform/com/errortext.h"
#include "platform/media/ui/propertyframe.h"

namespace ronvix::mediagraph {

using namespace media;

namespace {

QString HexCode(HRESULT code) {
    return QString::number(static_cast<uint32_t>(code), 16).toUpper();
}

// The frame is modal: it returns once the user has closed it, with the
// message loop running meanwhile.
HRESULT OpenPropertyFrame(win::HWND owner, const QString& caption, IUnknown* object,
                          const CAUUID& pages) {
    const std::u16string text = caption.toStdU16String();
    IUnknown* objects[] = {object};
    return media::OleCreatePropertyFrame(owner, 0, 0, text.c_str(), 1, objects, pages.cElems,
                                         pages.pElems, 0, 0, nullptr);
}

}  // namespace

EOleSysError::EOleSysError(HRESULT result)
    : fw::Exception(QString::fromStdString(com::ErrorText(result))), m_result(result) {}

QString ResultText(HRESULT code) {
    char buffer[256] = {};
    com::AMGetErrorTextA(code, buffer, 255);
    buffer[255] = 0;
    return QString::fromUtf8(buffer);
}

HRESULT CheckResult(HRESULT code) {
    if (com::SUCCEEDED(code))
        return code;
    throw EDirectShowException(
        ResultText(code) + QStringLiteral(" ($") + HexCode(code) + QStringLiteral(")."), code);
}

// ---------------------------------------------------------------- TPinList

TPinList::TPinList(IBaseFilter* filter) : m_filter(filter) {
    if (!m_filter)
        return;
    ComPtr<IEnumPins> pins;
    m_filter->EnumPins(pins.ReleaseAndGetAddressOf());
    if (!pins)
        return;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == com::S_OK) {
        m_pins.push_back(ComPtr<IPin>::Adopt(pin));
        pin = nullptr;
    }
}

ComPtr<IPin> TPinList::PinAt(int index) const {
    if (index < 0 || index >= Count())
        throw fw::EListError(index);
    return Supports<IPin>(m_pins[static_cast<size_t>(index)].Get());
}

void TPinList::PinInfoAt(int index, PIN_INFO& info) const {
    ComPtr<IPin> pin = PinAt(index);
    if (!pin)
        return;
    if (info.pFilter) {
        info.pFilter->Release();
        info.pFilter = nullptr;
    }
    pin->QueryPinInfo(&info);
}

void TPinList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw fw::EListError(index);
    m_pins.erase(m_pins.begin() + index);
}

// ------------------------------------------------------------- TFilterList

TFilterList::TFilterList(IFilterGraph* graph) : m_graph(graph) {
    if (!m_graph)
        return;
    ComPtr<IEnumFilters> filters;
    m_graph->EnumFilters(filters.ReleaseAndGetAddressOf());
    if (!filters)
        return;
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == com::S_OK) {
        m_filters.push_back(ComPtr<IBaseFilter>::Adopt(filter));
        filter = nullptr;
    }
}

ComPtr<IBaseFilter> TFilterList::FilterAt(int index) const {
    if (index < 0 || index >= Count())
        throw fw::EListError(index);
    return Supports<IBaseFilter>(m_filters[static_cast<size_t>(index)].Get());
}

int TFilterList::RemoveEntry(IBaseFilter* filter) {
    auto it = std::find_if(m_filters.begin(), m_filters.end(),
                           [&](const ComPtr<IBaseFilter>& f) { return f.Get() == filter; });
    if (it == m_filters.end())
        return -1;
    const int index = static_cast<int>(it - m_filters.begin());
    m_filters.erase(it);
    return index;
}

void TFilterList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw fw::EListError(index);
    m_filters.erase(m_filters.begin() + index);
}

// ------------------------------------------------------- property pages

ComPtr<media::IMuxEndTime> MuxEndTime(IBaseFilter* mux) {
    ComPtr<media::IMuxEndTime> end;
    if (mux)
        mux->QueryInterface(media::IMuxEndTime::iid, end.OutVoid());
    return end;
}

ComPtr<media::IMuxStreamCounts> VideoStreamCounts(IBaseFilter* mux) {
    if (!mux)
        return nullptr;
    const TPinList pins(mux);
    for (int i = 0; i < pins.Count(); ++i) {
        media::AM_MEDIA_TYPE mt{};
        if (pins.PinAt(i)->ConnectionMediaType(&mt) != com::S_OK)
            continue;
        const bool video = mt.majortype == media::MEDIATYPE_Video;
        media::FreeMediaType(mt);
        ComPtr<media::IMuxStreamCounts> counts;
        if (video && pins.PinAt(i)->QueryInterface(media::IMuxStreamCounts::iid,
                                                   counts.OutVoid()) == com::S_OK)
            return counts;
    }
    return nullptr;
}

HRESULT ShowFilterPropertyPages(win::HWND owner, IBaseFilter* filter, uint8_t kind) {
    if (!filter)
        return com::S_FALSE;
    FILTER_INFO info;
    HRESULT hr = com::S_FALSE;
    switch (kind) {
        case ppDefault: {
            ComPtr<ISpecifyPropertyPages> pages;
            hr = filter->QueryInterface(ISpecifyPropertyPages::iid, pages.OutVoid());
            if (hr != com::S_OK)
                break;
            CAUUID ids;
            hr = pages->GetPages(&ids);
            if (hr == com::S_OK) {
                hr = filter->QueryFilterInfo(&info);
                if (hr == com::S_OK) {
                    const QString caption =
                        QString::fromStdU16String(std::u16string(com::WideView(info.achName)));
                    IUnknown* object = filter;
                    hr = OpenPropertyFrame(owner, caption, object, ids);
                }
            }
            com::CoTaskMemFree(ids.pElems);
            break;
        }
        case ppVFWCapDisplay:
        case ppVFWCapFormat:
        case ppVFWCapSource: {
            const int dialog = kind == ppVFWCapDisplay  ? VfwCaptureDialog_Display
                               : kind == ppVFWCapFormat ? VfwCaptureDialog_Format
                                                        : VfwCaptureDialog_Source;
            ComPtr<IAMVfwCaptureDialogs> dialogs;
            hr = filter->QueryInterface(IAMVfwCaptureDialogs::iid, dialogs.OutVoid());
            if (hr != com::S_OK)
                break;
            hr = dialogs->HasDialog(dialog);
            if (hr != com::S_OK)
                break;
            hr = dialogs->ShowDialog(dialog, owner);
            break;
        }
        case ppVFWCompConfig:
        case ppVFWCompAbout: {
            const bool config = kind == ppVFWCompConfig;
            ComPtr<IAMVfwCompressDialogs> dialogs;
            hr = filter->QueryInterface(IAMVfwCompressDialogs::iid, dialogs.OutVoid());
            if (hr != com::S_OK)
                break;
            hr = dialogs->ShowDialog(
                config ? VfwCompressDialog_QueryConfig : VfwCompressDialog_QueryAbout, nullptr);
            if (hr != com::S_OK)
                break;
            hr = dialogs->ShowDialog(config ? VfwCompressDialog_Config : VfwCompressDialog_About,
                                     owner);
            break;
        }
        default:
            return com::S_FALSE;
    }
    if (info.pGraph)
        info.pGraph->Release();
    return hr;
}

namespace {

ComPtr<media::IPin> FirstPinOf(media::IBaseFilter* device) {
    if (!device)
        return nullptr;
    TPinList pins(device);
    return pins.Count() > 0 ? pins.FirstPin() : nullptr;
}

}  // namespace

std::vector<media::MediaType> DeviceFormats(media::IBaseFilter* device) {
    std::vector<media::MediaType> formats;
    const ComPtr<media::IPin> pin = FirstPinOf(device);
    if (!pin)
        return formats;
    TEnumMediaType types;
    types.LoadFromPin(pin.Get());
    for (int i = 0; i < types.Count(); ++i)
        formats.emplace_back(types.Item(i)->MediaRecord());
    return formats;
}

std::optional<media::MediaType> CurrentDeviceFormat(media::IBaseFilter* device) {
    ComPtr<media::IAMStreamConfig> config;
    if (const ComPtr<media::IPin> pin = FirstPinOf(device))
        pin->QueryInterface(media::IAMStreamConfig::iid, config.OutVoid());
    media::AM_MEDIA_TYPE* current = nullptr;
    if (!config || com::FAILED(config->GetFormat(&current)) || !current)
        return std::nullopt;
    media::MediaType format(*current);
    media::DeleteMediaType(current);
    return format;
}

}  // namespace ronvix::mediagraph
