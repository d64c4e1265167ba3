#pragma once

#include "domain/AndroidDevice.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

namespace quillbarrow {

class DeviceBrowserViewModel;
class TransferCoordinator;

// The column on the left of the window: the "Devices" list (one row per device the browser
// knows, name and manufacturer, or "No device connected"), and under it the quick-start footer
// (at its full height when the window has the room, scrolling only in a window too short) with "Retry" while no device is listed, the clipboard's summary while it holds
// something, and the "Contact Support" mail link.
//
// The highlighted row always follows browser.selectedDevice, also when the browser picked the
// device itself; applying it never counts as a choice, so it starts no connection. A choice of
// another listed device starts selectDevice() for it, unless the transfer queue has an active
// job: closing the session under running transfers would break them, so the choice is refused
// with deviceChoiceRefused() and the highlight goes back to the connected device. Choosing the
// device already connected does nothing; clearing the selection does nothing.
class DeviceSidebar final : public QWidget {
    Q_OBJECT

public:
    // The support mailbox behind "Contact Support".
    static const QUrl supportAddress;

    DeviceSidebar(DeviceBrowserViewModel* browser, TransferCoordinator* coordinator, QWidget* parent = nullptr);

    // Replaces how the support link is opened (by default the desktop's mail handler).
    void setUrlOpener(std::function<void(const QUrl&)> opener);

    QListWidget* deviceList() const { return m_list; }

Q_SIGNALS:
    // A device was chosen while transfers are active; the window shows the device browser's
    // "Transfers are still active." banner.
    void deviceChoiceRefused();

private:
    void rebuildRows();
    void applySelection();
    void userChangedSelection();
    void updateClipboardLine();

    QPointer<DeviceBrowserViewModel> m_browser;
    QPointer<TransferCoordinator> m_coordinator;
    QListWidget* m_list;
    QPushButton* m_retry;
    QLabel* m_clipboardLine;
    std::function<void(const QUrl&)> m_openUrl;
    bool m_applyingSelection = false;
};

} // namespace quillbarrow
