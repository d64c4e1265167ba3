#include "ScriptedDeviceSession.h"

#include "RunTask.h"

#include <QFile>
#include <gtest/gtest.h>
#include <algorithm>
#include <thread>

namespace quillbarrow::testing {

namespace {

AndroidDevice scriptedDevice()
{
    return AndroidDevice(DeviceID(QStringLiteral("scripted")), QStringLiteral("Scripted"), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

} // namespace

ScriptedDeviceSession::ScriptedDeviceSession(MockTree tree) : m_mock(scriptedDevice(), std::move(tree)) {}

void ScriptedDeviceSession::script(Step step)
{
    m_steps.append(std::move(step));
}

QList<RemoteItem> ScriptedDeviceSession::children(const std::optional<RemoteObjectID>& parentID,
                                                  const StorageID& storageID)
{
    try {
        const DirectoryPage page = parentID ? runTask(m_mock.listDirectory(*parentID, RemotePath(storageID, {})))
                                            : runTask(m_mock.rootDirectory(storageID));
        return page.items;
    } catch (const QuillbarrowError&) {
        return {};
    }
}

QCoro::Task<bool> ScriptedDeviceSession::play(Operation operation, QString subject, QString record,
                                              QString destination, TransferProgressFunction progress)
{
    m_calls.append(record);
    const auto match = std::find_if(m_steps.begin(), m_steps.end(), [&](const Step& step) {
        return step.operation == operation && (step.subject.isEmpty() || step.subject == subject);
    });
    if (match == m_steps.end()) {
        co_return false;
    }
    const Step step = *match;
    m_steps.erase(match);

    if (step.onCall) {
        step.onCall();
    }
    if (!step.partialBytes.isEmpty()) {
        QFile file(destination);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << destination.toStdString();
        file.write(step.partialBytes);
    }
    if (step.hold) {
        const std::optional<bool> released = co_await step.hold->wait();
        Q_UNUSED(released)
    }
    if (step.reportBytes && progress) {
        bool goOn = true;
        const qint64 bytes = *step.reportBytes;
        std::thread worker([&] { goOn = progress(bytes, std::nullopt); });
        worker.join();
        if (!goOn) {
            throw QuillbarrowError::userCancelled();
        }
    }
    if (step.error) {
        throw *step.error;
    }
    if (!step.growSizes.isEmpty()) {
        QFile file(destination);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << destination.toStdString();
        for (const qint64 size : step.growSizes) {
            EXPECT_TRUE(file.resize(size));
            m_grownSizes.append(size);
            bool goOn = true;
            const qint64 reported = std::min(size, step.reportAtMost);
            std::thread worker([&] { goOn = progress(reported, step.reportAtMost); });
            worker.join();
            if (!goOn) {
                throw QuillbarrowError::userCancelled();
            }
        }
        co_return true;
    }
    if (step.deliverBytes) {
        QFile file(destination);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << destination.toStdString();
        EXPECT_TRUE(file.resize(*step.deliverBytes));
        co_return true;
    }
    co_return step.endsHere;
}

AndroidDevice ScriptedDeviceSession::device() const
{
    return m_mock.device();
}

QCoro::Task<QList<StorageRoot>> ScriptedDeviceSession::storages()
{
    co_await play(Operation::storages, QString(), QStringLiteral("storages"), {}, {});
    co_return co_await m_mock.storages();
}

QCoro::Task<DirectoryPage> ScriptedDeviceSession::rootDirectory(StorageID storageID)
{
    co_await play(Operation::rootDirectory, storageID.rawValue(), QStringLiteral("root ") + storageID.rawValue(), {},
                  {});
    co_return co_await m_mock.rootDirectory(storageID);
}

QCoro::Task<DirectoryPage> ScriptedDeviceSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    co_await play(Operation::listDirectory, parentID.rawValue(), QStringLiteral("list ") + parentID.rawValue(), {},
                  {});
    co_return co_await m_mock.listDirectory(parentID, path);
}

QCoro::Task<RemoteItem> ScriptedDeviceSession::createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                            StorageID storageID)
{
    co_await play(Operation::createFolder, name, QStringLiteral("createFolder ") + name, {}, {});
    co_return co_await m_mock.createFolder(name, parentID, storageID);
}

QCoro::Task<> ScriptedDeviceSession::rename(RemoteObjectID itemID, QString newName)
{
    co_await play(Operation::rename, itemID.rawValue(), QStringLiteral("rename ") + itemID.rawValue() + u' ' + newName,
                  {}, {});
    co_await m_mock.rename(itemID, newName);
}

QCoro::Task<> ScriptedDeviceSession::deleteItem(RemoteObjectID itemID)
{
    co_await play(Operation::deleteItem, itemID.rawValue(), QStringLiteral("delete ") + itemID.rawValue(), {}, {});
    co_await m_mock.deleteItem(itemID);
}

QCoro::Task<> ScriptedDeviceSession::downloadFile(RemoteObjectID itemID, QString destination,
                                                  TransferProgressFunction progress)
{
    const bool written = co_await play(Operation::downloadFile, itemID.rawValue(),
                                       QStringLiteral("download ") + itemID.rawValue(), destination, progress);
    if (!written) {
        co_await m_mock.downloadFile(itemID, destination, progress);
    }
}

QCoro::Task<RemoteItem> ScriptedDeviceSession::uploadFile(QString source, QString name,
                                                          std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                          TransferProgressFunction progress)
{
    co_await play(Operation::uploadFile, name, QStringLiteral("upload ") + name, {}, progress);
    co_return co_await m_mock.uploadFile(source, name, parentID, storageID, progress);
}

QCoro::Task<> ScriptedDeviceSession::close()
{
    co_await m_mock.close();
}

StorageID testStorage()
{
    return StorageID(QStringLiteral("s1"));
}

MockTree treeOf(const QList<RemoteItem>& items)
{
    return MockTree({StorageRoot(testStorage(), QStringLiteral("Internal shared storage"), 64'000'000'000LL,
                                 32'000'000'000LL)},
                    items);
}

RemoteItem deviceFolder(const QString& id, const QString& name, std::optional<QString> parentID)
{
    return RemoteItem(RemoteObjectID(id), testStorage(),
                      parentID ? std::optional<RemoteObjectID>(RemoteObjectID(*parentID)) : std::nullopt, name,
                      RemoteItemKind::folder, std::nullopt, std::nullopt, std::nullopt);
}

RemoteItem deviceFile(const QString& id, const QString& name, std::optional<qint64> size,
                      std::optional<QString> parentID)
{
    return RemoteItem(RemoteObjectID(id), testStorage(),
                      parentID ? std::optional<RemoteObjectID>(RemoteObjectID(*parentID)) : std::nullopt, name,
                      RemoteItemKind::file, size, std::nullopt, std::nullopt);
}

} // namespace quillbarrow::testing
