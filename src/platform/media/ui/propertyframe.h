#pragma once
// Property frames: OleCreatePropertyFrame shows the property pages of one
// or more objects in a modal Qt dialog with OK, Cancel and Apply. A change
// takes effect on Apply or OK; Cancel drops what was not applied.
//
// Pages are made by class id from a registry of page factories; the
// engine's device pages (Video Proc Amp, Capture, Audio Mixer) are built in.
// The dialog runs through the dialog service, so tests answer it without a
// modal loop. User interface thread only.

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <span>

#include "platform/media/core/interfaces.h"
#include "platform/win/window.h"

namespace ronvix::media {

// One page: reads its objects' settings when made, writes them on Apply.
class PropertyPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    virtual QString Title() const = 0;
    // Writes every value the user changed to the objects; the page is clean
    // afterwards.
    virtual void Apply() = 0;
    bool IsDirty() const { return m_dirty; }

signals:
    void Changed();

protected:
    void SetDirty();
    void SetClean() { m_dirty = false; }

private:
    bool m_dirty = false;
};

// Makes a page for `objects`, or null when they lack what the page needs.
using PropertyPageFactory =
    std::function<std::unique_ptr<PropertyPage>(std::span<com::IUnknown* const> objects)>;

// Adds or replaces the factory for page `clsid`.
void RegisterPropertyPage(const GUID& clsid, PropertyPageFactory factory);
// The device pages of this library. Idempotent.
void RegisterDevicePropertyPages();

using LCID = DWORD;

// Shows the frame and returns once it is closed: S_OK whether the user chose
// OK or Cancel. Pages whose class is unknown, or that do not apply to the
// objects, are left out; when none is left nothing is shown and the result
// is E_INVALIDARG. `owner` may be null; `x`, `y` place the frame relative to
// the owner. E_POINTER for null arrays with non-zero counts.
HRESULT OleCreatePropertyFrame(win::HWND owner, com::UINT x, com::UINT y, LPCWSTR caption,
                               ULONG object_count, com::IUnknown** objects, ULONG page_count,
                               const GUID* pages, LCID locale, DWORD reserved,
                               void* reserved_pointer);

}  // namespace ronvix::media
