#include "DeviceTransferFixture.h"

namespace quillbarrow::testing {

DeviceTransferTest::DeviceTransferTest()
    : coordinator(std::make_unique<CoordinatorHarness>(&clipboard, queue, m_temp.filePath("cache/Opened Files")))
{
    useDevice({});
}

QString DeviceTransferTest::path(const QString& relative) const
{
    return m_temp.filePath(relative);
}

void DeviceTransferTest::useDevice(const QList<RemoteItem>& items)
{
    session = std::make_shared<ScriptedDeviceSession>(treeOf(items));
}

QList<ConflictRequest> DeviceTransferTest::pasteToDevice(const QStringList& relativeSources,
                                                         std::optional<QString> parentID,
                                                         QList<ConflictAnswerer::Answer> answers)
{
    QList<QUrl> urls;
    for (const QString& source : relativeSources) {
        urls.append(QUrl::fromLocalFile(path(source)));
    }
    clipboard.copyLocal(urls);
    ConflictAnswerer answerer(*coordinator, std::move(answers));
    runTask(coordinator->pasteIntoDevice(parentID ? std::optional<RemoteObjectID>(RemoteObjectID(*parentID))
                                                  : std::nullopt,
                                         testStorage(), session));
    return answerer.asked;
}

QList<ConflictRequest> DeviceTransferTest::pasteToLocal(const QList<RemoteItem>& items, const QString& folder,
                                                        QList<ConflictAnswerer::Answer> answers)
{
    clipboard.copyDevice(items, testStorage());
    ConflictAnswerer answerer(*coordinator, std::move(answers));
    runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(folder), session));
    return answerer.asked;
}

QStringList DeviceTransferTest::shownJobs() const
{
    QStringList shown;
    for (const TransferJob& job : coordinator->transferJobs()) {
        shown.append(job.displayName + QStringLiteral(": ") + stateName(job.state.kind()));
    }
    return shown;
}

TransferID DeviceTransferTest::jobNamed(const QString& name) const
{
    std::optional<TransferID> found;
    for (const TransferJob& job : queue->allJobs()) {
        if (job.displayName == name) {
            EXPECT_FALSE(found.has_value()) << "two jobs named " << name.toStdString();
            found = job.id;
        }
    }
    EXPECT_TRUE(found.has_value()) << "no job named " << name.toStdString();
    return found.value_or(TransferID::create());
}

QStringList DeviceTransferTest::deviceNames(std::optional<QString> parentID)
{
    QStringList names;
    for (const RemoteItem& item :
         session->children(parentID ? std::optional<RemoteObjectID>(RemoteObjectID(*parentID)) : std::nullopt,
                           testStorage())) {
        names.append(item.name);
    }
    names.sort();
    return names;
}

std::optional<RemoteItem> DeviceTransferTest::deviceChild(std::optional<QString> parentID, const QString& name)
{
    for (const RemoteItem& item :
         session->children(parentID ? std::optional<RemoteObjectID>(RemoteObjectID(*parentID)) : std::nullopt,
                           testStorage())) {
        if (item.name == name) {
            return item;
        }
    }
    return std::nullopt;
}

QString stateName(TransferState::Kind kind)
{
    switch (kind) {
    case TransferState::Kind::queued:
        return QStringLiteral("queued");
    case TransferState::Kind::awaitingConfirmation:
        return QStringLiteral("awaiting");
    case TransferState::Kind::running:
        return QStringLiteral("running");
    case TransferState::Kind::cancelling:
        return QStringLiteral("cancelling");
    case TransferState::Kind::completed:
        return QStringLiteral("completed");
    case TransferState::Kind::failed:
        return QStringLiteral("failed");
    case TransferState::Kind::cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

} // namespace quillbarrow::testing
