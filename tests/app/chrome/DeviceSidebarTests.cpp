#include "ChromeBrowserRig.h"

#include "RunTask.h"
#include "chrome/ChromeStyle.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/OnboardingView.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

const AndroidDevice pixel = sampleDevice(QStringLiteral("pixel"), QStringLiteral("Pixel 8"), QStringLiteral("Google"));
const AndroidDevice tablet = sampleDevice(QStringLiteral("tab"), QStringLiteral("Tab S9"), std::nullopt);

void clickRow(DeviceSidebar& sidebar, int row)
{
    QListWidget* list = sidebar.deviceList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

int highlightedRow(DeviceSidebar& sidebar)
{
    const QList<QListWidgetItem*> selected = sidebar.deviceList()->selectedItems();
    return selected.size() == 1 ? sidebar.deviceList()->row(selected.first()) : -1;
}

QLabel* rowLabel(DeviceSidebar& sidebar, int row, const QString& name)
{
    QListWidget* list = sidebar.deviceList();
    return list->itemWidget(list->item(row))->findChild<QLabel*>(name);
}

// The colour of the symbol's fully covered pixels.
QColor symbolColour(const QLabel* icon)
{
    const QImage image = icon->pixmap().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() == 255) {
                return image.pixelColor(x, y);
            }
        }
    }
    return {};
}

bool isConnectedTo(BrowserRig& rig, const AndroidDevice& device)
{
    return rig.browser.selectedDevice() && rig.browser.selectedDevice()->id == device.id && rig.browser.currentSession();
}

} // namespace

TEST(DeviceSidebar, TheAutoSelectedDeviceIsHighlightedWithoutASecondConnection)
{
    BrowserRig rig({pixel});
    DeviceSidebar sidebar(&rig.browser, &rig.coordinator);
    sidebar.resize(260, 600);
    sidebar.show();
    rig.browser.start();
    ASSERT_TRUE(processEventsUntil([&] { return isConnectedTo(rig, pixel) && highlightedRow(sidebar) == 0; }));
    const std::shared_ptr<DeviceSession> session = rig.browser.currentSession();
    QSignalSpy selections(&rig.browser, &DeviceBrowserViewModel::selectedDeviceChanged);

    clickRow(sidebar, 0); // the device already connected
    QTest::qWait(20);
    EXPECT_EQ(rig.browser.currentSession(), session);
    EXPECT_EQ(selections.count(), 0);
    EXPECT_EQ(highlightedRow(sidebar), 0);

    // Clearing the selection neither connects nor disconnects; the highlight comes back.
    sidebar.deviceList()->clearSelection();
    EXPECT_EQ(highlightedRow(sidebar), 0);
    EXPECT_EQ(rig.browser.currentSession(), session);
}

TEST(DeviceSidebar, AChoiceWhileATransferIsActiveIsRefusedAndKeepsTheSession)
{
    BrowserRig rig({pixel, tablet});
    DeviceSidebar sidebar(&rig.browser, &rig.coordinator);
    sidebar.resize(260, 600);
    sidebar.show();
    rig.browser.start();
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.devices().size() == 2; }));
    clickRow(sidebar, 0);
    ASSERT_TRUE(processEventsUntil([&] { return isConnectedTo(rig, pixel); }));
    const std::shared_ptr<DeviceSession> session = rig.browser.currentSession();

    QSignalSpy refusals(&sidebar, &DeviceSidebar::deviceChoiceRefused);
    const TransferID job = rig.enqueue(QStringLiteral("big.iso"));
    clickRow(sidebar, 1);
    EXPECT_EQ(refusals.count(), 1);
    QTest::qWait(20);
    EXPECT_EQ(rig.browser.currentSession(), session);
    EXPECT_TRUE(isConnectedTo(rig, pixel));
    EXPECT_EQ(highlightedRow(sidebar), 0);
    clickRow(sidebar, 0); // the device shown and connected: nothing, not even a refusal
    EXPECT_EQ(refusals.count(), 1);

    // Once the queue is idle the same choice connects.
    rig.coordinator.cancelTransfer(job);
    clickRow(sidebar, 1);
    ASSERT_TRUE(processEventsUntil([&] { return isConnectedTo(rig, tablet); }));
    EXPECT_EQ(highlightedRow(sidebar), 1);
    EXPECT_EQ(refusals.count(), 1);
}

// The selected row's name, manufacturer and symbol read on the selection colour; a row that is
// no longer selected has its usual colours again.
TEST(DeviceSidebar, TheSelectedRowTakesTheSelectionTextColour)
{
    const AndroidDevice other = sampleDevice(QStringLiteral("tab"), QStringLiteral("Tab S9"), QStringLiteral("Samsung"));
    BrowserRig rig({pixel, other});
    DeviceSidebar sidebar(&rig.browser, &rig.coordinator);
    sidebar.resize(260, 600);
    sidebar.show();
    rig.browser.start();
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.devices().size() == 2; }));
    clickRow(sidebar, 0);
    ASSERT_TRUE(processEventsUntil([&] { return isConnectedTo(rig, pixel) && highlightedRow(sidebar) == 0; }));
    const QPalette colours = sidebar.deviceList()->palette();
    const QColor selectedText = colours.color(QPalette::HighlightedText);
    ASSERT_NE(colours.color(QPalette::WindowText), selectedText);
    for (const QString& label : {QStringLiteral("deviceName"), QStringLiteral("deviceManufacturer")}) {
        EXPECT_EQ(rowLabel(sidebar, 0, label)->palette().color(QPalette::WindowText), selectedText)
            << label.toStdString();
    }
    EXPECT_EQ(symbolColour(rowLabel(sidebar, 0, QStringLiteral("deviceIcon"))).rgb(), selectedText.rgb());

    clickRow(sidebar, 1);
    ASSERT_TRUE(processEventsUntil([&] { return isConnectedTo(rig, other) && highlightedRow(sidebar) == 1; }));
    EXPECT_EQ(rowLabel(sidebar, 1, QStringLiteral("deviceName"))->palette().color(QPalette::WindowText), selectedText);
    EXPECT_EQ(rowLabel(sidebar, 0, QStringLiteral("deviceName"))->palette().color(QPalette::WindowText),
              colours.color(QPalette::WindowText));
    EXPECT_EQ(rowLabel(sidebar, 0, QStringLiteral("deviceManufacturer"))->palette().color(QPalette::WindowText),
              ChromeStyle::secondaryText(colours));
    EXPECT_NE(symbolColour(rowLabel(sidebar, 0, QStringLiteral("deviceIcon"))).rgb(), selectedText.rgb());
}

// A name too long for the sidebar keeps its whole text, shown in the tooltip, and does not widen
// the list.
TEST(DeviceSidebar, ALongDeviceNameShowsWholeInItsTooltip)
{
    const QString longName = QStringLiteral("Galaxy Tab S9 Ultra of the design department, second floor");
    BrowserRig rig({sampleDevice(QStringLiteral("long"), longName, QStringLiteral("Samsung"))});
    DeviceSidebar sidebar(&rig.browser, &rig.coordinator);
    sidebar.resize(260, 600);
    sidebar.show();
    rig.browser.start();
    QListWidget* list = sidebar.deviceList();
    ASSERT_TRUE(processEventsUntil([&] { return list->count() == 1 && list->itemWidget(list->item(0)) != nullptr; }));
    QLabel* name = rowLabel(sidebar, 0, QStringLiteral("deviceName"));
    ASSERT_TRUE(processEventsUntil([&] { return !name->toolTip().isEmpty(); }));
    EXPECT_EQ(name->text(), longName);
    EXPECT_EQ(name->toolTip(), longName);
    EXPECT_LE(list->itemWidget(list->item(0))->width(), list->viewport()->width());
}

TEST(DeviceSidebar, RowsRetryAndClipboardFollowTheViewModels)
{
    BrowserRig rig({});
    DeviceSidebar sidebar(&rig.browser, &rig.coordinator);
    sidebar.show();
    QListWidget* list = sidebar.deviceList();
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("No device connected"));
    EXPECT_EQ(list->item(0)->font(), ChromeStyle::headline(list->font()));
    auto* retry = sidebar.findChild<QPushButton*>(QStringLiteral("retryButton"));
    EXPECT_TRUE(retry->isVisible());
    auto* clipboardLine = sidebar.findChild<QLabel*>(QStringLiteral("clipboardLine"));
    EXPECT_FALSE(clipboardLine->isVisible());

    rig.browser.start();
    rig.backend->simulateConnect(pixel);
    rig.backend->simulateConnect(tablet);
    ASSERT_TRUE(processEventsUntil([&] { return list->count() == 2; }));
    EXPECT_FALSE(retry->isVisible());
    const QList<QLabel*> pixelLabels = list->itemWidget(list->item(0))->findChildren<QLabel*>(QStringLiteral("deviceManufacturer"));
    ASSERT_EQ(pixelLabels.size(), 1);
    EXPECT_EQ(pixelLabels.first()->text(), QStringLiteral("Google"));
    EXPECT_TRUE(list->itemWidget(list->item(1))->findChildren<QLabel*>(QStringLiteral("deviceManufacturer")).isEmpty());
    EXPECT_EQ(list->itemWidget(list->item(1))->findChild<QLabel*>(QStringLiteral("deviceName"))->text(),
              QStringLiteral("Tab S9"));

    rig.clipboard.copyLocal({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
    EXPECT_TRUE(clipboardLine->isVisible());
    EXPECT_EQ(clipboardLine->text(), QStringLiteral("1 Mac item"));
    rig.clipboard.clear();
    EXPECT_FALSE(clipboardLine->isVisible());
}

// The footer shows whole, without a scroll bar, whenever the sidebar has the room, the clipboard
// line included; the device list takes what is left. Only a sidebar too short for both scrolls
// the footer, and the list still keeps room for a few devices.
TEST(DeviceSidebar, TheFooterShowsWholeWhereverThereIsRoom)
{
    const struct {
        int height;
        bool scrolls;
    } cases[] = {{860, false}, {700, false}, {300, true}};
    for (const auto& each : cases) {
        BrowserRig rig({});
        DeviceSidebar sidebar(&rig.browser, &rig.coordinator);
        sidebar.resize(260, each.height);
        sidebar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&sidebar));
        rig.clipboard.copyLocal({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
        auto* footer = sidebar.findChild<QScrollArea*>(QStringLiteral("sidebarFooter"));
        ASSERT_NE(footer, nullptr);
        QListWidget* list = sidebar.deviceList();
        EXPECT_TRUE(processEventsUntil([&] {
            const bool whole = footer->widget()->height() <= footer->viewport()->height();
            return whole != each.scrolls && footer->verticalScrollBar()->isVisible() == each.scrolls;
        })) << "height " << each.height;
        EXPECT_GE(list->height(), list->minimumHeight()) << "height " << each.height;
        EXPECT_EQ(footer->geometry().bottom(), sidebar.height() - 1) << "height " << each.height;
    }
}

TEST(DeviceSidebar, TheSupportLinkGoesToTheMailHandler)
{
    DeviceSidebar sidebar(nullptr, nullptr);
    QList<QUrl> opened;
    sidebar.setUrlOpener([&opened](const QUrl& url) { opened.append(url); });
    sidebar.findChild<QPushButton*>(QStringLiteral("contactSupportLink"))->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().scheme(), QStringLiteral("mailto"));
    const QStringList stepTexts{
        QStringLiteral("On your phone, choose \u201CTransferring files\u201D and tap \u201CAllow\u201D if prompted."),
        QStringLiteral("If it has not connected yet, click Retry.")};
    EXPECT_EQ(sidebar.findChild<QLabel*>(QStringLiteral("quickStartStep2"))->text(), stepTexts[0]);
    EXPECT_EQ(sidebar.findChild<QLabel*>(QStringLiteral("quickStartStep4"))->text(), stepTexts[1]);
}

TEST(OnboardingView, ShowsTheGuideWithItsSymbol)
{
    OnboardingView guide;
    EXPECT_EQ(guide.findChild<QLabel*>(QStringLiteral("onboardingTitle"))->text(), QStringLiteral("Connect an Android device"));
    const QLabel* symbol = guide.findChild<QLabel*>(QStringLiteral("onboardingSymbol"));
    EXPECT_EQ(symbol->property("symbolName").toString(), QStringLiteral("cable.connector"));
    EXPECT_FALSE(symbol->pixmap().isNull());
}
