#pragma once
// Pin and filter lists, property pages and the layer's one way of turning a
// failed platform result into an exception.
//
// Every function here runs on the user interface thread. Lists are snapshots
// taken at construction: they hold a reference on every entry and on the
// filter or graph they list, and release them all when destroyed.

#include <QString>
#include <optional>
#include <vector>

#include "framework/exceptions.h"
#include "platform/com/comptr.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/core/types.h"
#include "platform/win/window.h"

namespace ronvix::mediagraph {

using com::ComPtr;
using com::HRESULT;

// A platform call failed. The message is the platform's text for the code
// followed by " ($XXXXXXXX).".
class EDirectShowException : public fw::Exception {
public:
    EDirectShowException(QString message, HRESULT result)
        : fw::Exception(std::move(message)), m_result(result) {}
    HRESULT ResultCode() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

// A failure of the layer's own (not the platform's) making, for example a
// renderer mode that cannot be set up.
class EMediaGraphException : public fw::Exception {
public:
    explicit EMediaGraphException(QString message, HRESULT result = com::S_OK)
        : fw::Exception(std::move(message)), m_result(result) {}
    HRESULT ResultCode() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

// A runtime call of the object model failed (a class id text that does not
// parse, for instance); the message is the system's text for the code.
class EOleSysError : public fw::Exception {
public:
    explicit EOleSysError(HRESULT result);
    HRESULT ErrorCode() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

// The platform's error text for `code` (at most 255 characters).
QString ResultText(HRESULT code);

// Returns a success code (S_OK, S_FALSE, ...) unchanged; throws
// EDirectShowException for a failure code.
HRESULT CheckResult(HRESULT code);

// The pins of one filter in the filter's enumeration order.
class TPinList {
public:
    // `filter` may be null: the list is then empty.
    explicit TPinList(media::IBaseFilter* filter);

    int Count() const { return static_cast<int>(m_pins.size()); }
    media::IBaseFilter* Filter() const { return m_filter.Get(); }
    // Entry `index`; EListError outside 0..Count-1.
    ComPtr<media::IPin> PinAt(int index) const;
    // PinAt(0): EListError for a filter without pins.
    ComPtr<media::IPin> FirstPin() const { return PinAt(0); }
    // Fills `info` from pin `index`. The filter reference already in `info`
    // is released first; the caller releases the one the call puts there.
    void PinInfoAt(int index, media::PIN_INFO& info) const;
    void Delete(int index);
    void Clear() { m_pins.clear(); }

private:
    ComPtr<media::IBaseFilter> m_filter;
    std::vector<ComPtr<media::IPin>> m_pins;
};

// The filters of one graph in the graph's enumeration order.
class TFilterList {
public:
    // `graph` may be null: the list is then empty.
    explicit TFilterList(media::IFilterGraph* graph);

    int Count() const { return static_cast<int>(m_filters.size()); }
    media::IFilterGraph* Graph() const { return m_graph.Get(); }
    // Entry `index`; EListError outside 0..Count-1.
    ComPtr<media::IBaseFilter> FilterAt(int index) const;
    // Removes the first entry that is `filter` (the same interface pointer)
    // and returns its former position, or -1 when it is not listed.
    int RemoveEntry(media::IBaseFilter* filter);
    void Delete(int index);

private:
    ComPtr<media::IFilterGraph> m_graph;
    std::vector<ComPtr<media::IBaseFilter>> m_filters;
};

// What ShowFilterPropertyPages opens.
enum TPropertyPage : uint8_t {
    ppDefault = 0,        // the filter's own property pages
    ppVFWCapDisplay = 1,  // legacy capture driver dialogs
    ppVFWCapFormat = 2,
    ppVFWCapSource = 3,
    ppVFWCompConfig = 4,  // legacy compressor dialogs
    ppVFWCompAbout = 5,
};

// Opens the chosen dialog of `filter`, modal, with `owner` as its parent
// window (null for none), and returns the first result that is not S_OK, or
// the dialog's own result. S_FALSE for a null filter or an unknown kind.
// Never throws.
HRESULT ShowFilterPropertyPages(win::HWND owner, media::IBaseFilter* filter, uint8_t kind);

// What the capture file's mux made of its video stream: the counts of the
// mux input that takes video; null when it has none. Any thread.
ComPtr<media::IMuxStreamCounts> VideoStreamCounts(media::IBaseFilter* mux);

// The capture file's end control of `mux`; null when it has none (or no mux).
ComPtr<media::IMuxEndTime> MuxEndTime(media::IBaseFilter* mux);

// The formats the first pin of a capture device offers, in the pin's order,
// which is the order the device's format list shows.
std::vector<media::MediaType> DeviceFormats(media::IBaseFilter* device);
// The format that pin is set to now; none when it cannot tell.
std::optional<media::MediaType> CurrentDeviceFormat(media::IBaseFilter* device);

// Interface `I` of `object` or EIntfCastError ("Interface not supported"):
// the checked cast the workflows use on components and platform objects.
template <class I>
ComPtr<I> Supports(com::IUnknown* object) {
    ComPtr<I> out;
    if (!object || object->QueryInterface(I::iid, out.OutVoid()) != com::S_OK || !out)
        throw fw::EIntfCastError();
    return out;
}

}  // namespace ronvix::mediagraph
