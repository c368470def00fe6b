#include "platform/media/ui/propertyframe.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <map>
#include <mutex>

#include "platform/com/oleauto.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

namespace ronvix::media {

using namespace com;

namespace {

std::map<GUID, PropertyPageFactory>& Factories() {
    static std::map<GUID, PropertyPageFactory> factories;  // UI thread only
    return factories;
}

class PropertyFrame final : public QDialog {
public:
    PropertyFrame(QWidget* owner, const QString& caption,
                  std::vector<std::unique_ptr<PropertyPage>> pages)
        : QDialog(owner) {
        setObjectName(QStringLiteral("PropertyFrame"));
        setWindowTitle(caption);
        setModal(true);
        auto* layout = new QVBoxLayout(this);
        auto* tabs = new QTabWidget(this);
        tabs->setObjectName(QStringLiteral("Pages"));
        layout->addWidget(tabs);
        m_buttons = new QDialogButtonBox(
            QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
        layout->addWidget(m_buttons);
        for (std::unique_ptr<PropertyPage>& page : pages) {
            PropertyPage* p = page.release();
            m_pages.push_back(p);
            tabs->addTab(p, p->Title());
            connect(p, &PropertyPage::Changed, this, [this] { UpdateApply(); });
        }
        connect(m_buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
            ApplyAll();
            accept();
        });
        connect(m_buttons->button(QDialogButtonBox::Cancel), &QPushButton::clicked, this,
                &QDialog::reject);
        connect(m_buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
                [this] { ApplyAll(); });
        UpdateApply();
    }

private:
    void ApplyAll() {
        for (PropertyPage* p : m_pages)
            if (p->IsDirty())
                p->Apply();
        UpdateApply();
    }
    void UpdateApply() {
        bool dirty = false;
        for (PropertyPage* p : m_pages)
            dirty |= p->IsDirty();
        m_buttons->button(QDialogButtonBox::Apply)->setEnabled(dirty);
    }

    QDialogButtonBox* m_buttons = nullptr;
    std::vector<PropertyPage*> m_pages;  // Owned by the tab widget.
};

}  // namespace

void PropertyPage::SetDirty() {
    m_dirty = true;
    emit Changed();
}

void RegisterPropertyPage(const GUID& clsid, PropertyPageFactory factory) {
    Factories()[clsid] = std::move(factory);
}

HRESULT OleCreatePropertyFrame(win::HWND owner, UINT x, UINT y, LPCWSTR caption, ULONG object_count,
                               IUnknown** objects, ULONG page_count, const GUID* pages, LCID, DWORD,
                               void*) {
    if ((object_count && !objects) || (page_count && !pages))
        return E_POINTER;
    RegisterDevicePropertyPages();
    const std::span<IUnknown* const> targets(objects, object_count);
    for (IUnknown* o : targets)
        if (!o)
            return E_POINTER;
    std::vector<std::unique_ptr<PropertyPage>> made;
    for (ULONG i = 0; i < page_count; ++i) {
        auto it = Factories().find(pages[i]);
        if (it == Factories().end())
            continue;
        if (std::unique_ptr<PropertyPage> page = it->second(targets))
            made.push_back(std::move(page));
    }
    if (made.empty())
        return E_INVALIDARG;
    QWidget* parent = win::HandleWidget(owner);
    PropertyFrame frame(parent, QString::fromStdU16String(std::u16string(WideView(caption))),
                        std::move(made));
    if (parent)
        frame.move(parent->mapToGlobal(QPoint(int(x), int(y))));
    else
        frame.move(int(x), int(y));
    win::ExecDialog(frame);
    return S_OK;
}

}  // namespace ronvix::media
