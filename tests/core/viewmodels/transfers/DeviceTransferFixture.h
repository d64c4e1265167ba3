#pragma once

#include "CoordinatorHarness.h"
#include "ScriptedDeviceSession.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace quillbarrow::testing {

// A coordinator whose opened-files cache lies in a temporary folder, a scripted session over a
// small device tree, and helpers that paste with scripted answers.
class DeviceTransferTest : public ::testing::Test {
protected:
    DeviceTransferTest();

    // A path inside the test's temporary folder.
    QString path(const QString& relative) const;
    // Replaces the device with one holding these items.
    void useDevice(const QList<RemoteItem>& items);

    // Puts the local items on the clipboard and pastes them into the device folder.
    QList<ConflictRequest> pasteToDevice(const QStringList& relativeSources, std::optional<QString> parentID,
                                         QList<ConflictAnswerer::Answer> answers = {});
    // Puts the device items on the clipboard and pastes them into the local folder.
    QList<ConflictRequest> pasteToLocal(const QList<RemoteItem>& items, const QString& folder,
                                        QList<ConflictAnswerer::Answer> answers = {});

    // "name: state" for each job in the panel, in order.
    QStringList shownJobs() const;
    // The id of the only job shown with this name.
    TransferID jobNamed(const QString& name) const;
    // The device's items below a folder (the root when absent), by name.
    QStringList deviceNames(std::optional<QString> parentID = std::nullopt);
    std::optional<RemoteItem> deviceChild(std::optional<QString> parentID, const QString& name);

    QTemporaryDir m_temp;
    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    std::unique_ptr<CoordinatorHarness> coordinator;
    std::shared_ptr<ScriptedDeviceSession> session;
};

QString stateName(TransferState::Kind kind);

} // namespace quillbarrow::testing
