// The device page's lists following the devices that come and go: listed
// again on every change the device watch reports, each keeping its chosen
// device by moniker; a chosen device that went is forgotten, and chosen
// again when it is back, once the session that held it is idle.

#include <QScopedValueRollback>
#include <QTimer>

#include "app/pages/device_items.h"
#include "app/pages/device_page.h"
#include "app/pages/stored_settings.h"
#include "framework/application.h"
#include "platform/media/core/types.h"

namespace ronvix::app::pages {

namespace {

// How soon a list whose session was busy is settled again.
constexpr int kSettleRetry_ms = 500;

struct Item {
    QString name;
    QString moniker;
    bool operator==(const Item&) const = default;
};

std::vector<Item> Listed(mediagraph::TSysDevEnum& devices, const com::GUID& category) {
    devices.SelectCategory(category);
    std::vector<Item> items;
    for (int i = 0; i < devices.DeviceCount(); ++i)
        items.push_back({devices.DeviceInfo(i).Name(), devices.DeviceDisplayName(i)});
    return items;
}

std::vector<Item> Shown(const QComboBox* list) {
    std::vector<Item> items;
    for (int i = 0; i < list->count(); ++i)
        items.push_back({list->itemText(i), list->itemData(i, kMonikerRole).toString()});
    return items;
}

}  // namespace

void DevicePage::WatchDevices() {
    if (m_watch)
        return;
    m_watch = std::make_unique<mediagraph::TDeviceWatch>();
    m_watch->OnChange = [this](QObject*) { RefreshLists(); };
}

void DevicePage::RefreshLists() {
    if (!m_devices)
        return;
    // A device chosen on the way may show a box, whose event loop may
    // deliver the next change: that one is listed shortly, once this one
    // is done.
    if (m_listing) {
        m_relist = true;
        SettleLater();
        return;
    }
    const QScopedValueRollback<bool> listing(m_listing, true);
    m_relist = false;
    for (size_t i = 0; i < std::size(kLists); ++i) {
        QComboBox* list = this->*kLists[i].list;
        const QString chosen =
            list->currentIndex() >= 0 ? list->currentData(kMonikerRole).toString() : QString();
        if (!chosen.isEmpty())
            m_last_chosen[i] = chosen;
        const std::vector<Item> listed = Listed(*m_devices, kLists[i].category);
        // A list that shows these devices already is left alone.
        if (listed == Shown(list))
            continue;
        list->clear();
        for (const Item& item : listed)
            list->addItem(item.name, item.moniker);
        // Setting the choice from code runs no handler: a device that stays
        // chosen is not chosen again, so nothing that runs on it is touched.
        const int found = chosen.isEmpty() ? -1 : DeviceItemOf(list, chosen);
        list->setCurrentIndex(found);
        if (!chosen.isEmpty() && found < 0)
            m_gone[i] = true;
    }
    SettleLists();
}

void DevicePage::SettleLists() {
    bool waiting = false;
    for (size_t i = 0; i < std::size(kLists); ++i) {
        const DeviceList& f = kLists[i];
        QComboBox* list = this->*f.list;
        // The user chose another device meanwhile: nothing is left to do.
        if (list->currentIndex() >= 0) {
            m_gone[i] = false;
            continue;
        }
        QString wanted = m_last_chosen[i];
        if (wanted.isEmpty())
            wanted = m_storage.ReadStrValue(Key(StoredSettingOf(f.stored_key)), QString());
        const int back = wanted.trimmed().isEmpty() ? -1 : DeviceItemOf(list, wanted);
        // A capture runs on its devices (their lists locked) until it ends,
        // by itself when one of them goes; a play-out in progress would be
        // ended by a choice. Either is left to finish first.
        if (f.capture ? m_capture.Capturing() : m_playout.IsOpen()) {
            waiting |= m_gone[i] || back >= 0;
            continue;
        }
        if (m_gone[i]) {
            m_gone[i] = false;
            ForgetDevice(i);
        }
        if (back >= 0) {
            list->setCurrentIndex(back);
            (this->*f.chosen)();
        }
    }
    if (waiting)
        SettleLater();
}

void DevicePage::SettleLater() {
    if (m_settle_due)
        return;
    m_settle_due = true;
    QTimer::singleShot(kSettleRetry_ms, this, [this] {
        m_settle_due = false;
        fw::SafeCall([&] {
            if (!m_devices)
                return;
            if (m_relist) {
                RefreshLists();
            } else if (m_listing) {
                SettleLater();
            } else {
                const QScopedValueRollback<bool> listing(m_listing, true);
                SettleLists();
            }
        });
    });
}

void DevicePage::ForgetDevice(size_t list) {
    switch (list) {
        case 0:
            videoFormats->clear();
            m_video_types->FreeTypes();
            m_video_formats.clear();
            m_capture.ChooseVideoFormat(std::nullopt);
            videoProperties->setEnabled(false);
            m_capture_page.DeviceGone(true);
            break;
        case 1:
            audioFormats->clear();
            m_audio_formats.clear();
            m_capture.ChooseAudioFormat(std::nullopt);
            audioProperties->setEnabled(false);
            m_capture_page.DeviceGone(false);
            break;
        case 2:
            videoOutputProperties->setEnabled(false);
            break;
        case 3:
            audioOutputFormats->clear();
            audioOutputProperties->setEnabled(false);
            break;
        default:
            break;
    }
}

}  // namespace ronvix::app::pages
