#pragma once

#include "async/SerialExecutor.h"
#include "transport/DeviceSession.h"

#include <QList>
#include <QString>
#include <atomic>
#include <chrono>

namespace quillbarrow {

// A pretend phone with one storage whose root holds one big folder beside a few files, answering
// from a worker thread one call at a time, as the libmtp session does: every listing builds its
// items anew (ids, names, paths, dates, as a device's answer gives them) and sorts them by name
// there. The big folder is refused until `openBigFolder()`: the window's automatic size pass at
// connection would otherwise list it before the folder is ever opened, where a real phone would
// still be walking it. An entry may be a folder of three files, each of the entry's size, which
// the phone lists in a few milliseconds. Nothing can be changed on it.
class BigFolderSession final : public DeviceSession {
  public:
    // One object as the device describes it.
    struct Entry {
        QString name;
        // A file's bytes; of a folder, the bytes of each of its three files.
        qint64 size = 0;
        qint64 modifiedSecondsSinceEpoch = 0;
        bool isFolder = false;
    };

    // The root holds a folder named `bigFolderName` with `bigFolder` in it, then `rootFiles`.
    BigFolderSession(QString bigFolderName, QList<Entry> bigFolder, QList<Entry> rootFiles);
    ~BigFolderSession() override;

    // How long the phone takes to answer for an inner folder, as a phone over USB does: the answers
    // of a pass over many of them come one after another, not all at once.
    static constexpr std::chrono::milliseconds innerFolderLatency{5};

    // The storage the tree lies on.
    static StorageRoot storage();
    // The items of the big folder, as a listing gives them (in the browser order by name).
    QList<RemoteItem> bigFolderItems() const;

    // From now on the big folder is listed (refused with false).
    void openBigFolder(bool open = true) { m_open = open; }
    // How many listings of the big folder the device has answered.
    int bigFolderListings() const { return m_listings.load(); }
    // How long the last of them took on the worker thread, in seconds.
    double lastListingSeconds() const { return m_lastListingSeconds.load(); }

    AndroidDevice device() const override;
    QCoro::Task<QList<StorageRoot>> storages() override;
    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override;
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) override;
    QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                         StorageID storageID) override;
    QCoro::Task<> rename(RemoteObjectID itemID, QString newName) override;
    QCoro::Task<> deleteItem(RemoteObjectID itemID) override;
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination,
                               TransferProgressFunction progress) override;
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID, TransferProgressFunction progress) override;
    QCoro::Task<> close() override;

    using DeviceSession::downloadFile;
    using DeviceSession::uploadFile;

  private:
    QList<RemoteItem> listBigFolder(const RemotePath& path) const;
    // The files of the big folder's entry at `index`, a folder.
    QList<RemoteItem> listInnerFolder(qsizetype index, const RemotePath& path) const;

    const QString m_bigFolderName;
    const QList<Entry> m_bigFolder;
    const QList<Entry> m_rootFiles;
    std::atomic<bool> m_open{false};
    std::atomic<int> m_listings{0};
    std::atomic<double> m_lastListingSeconds{0};
    SerialExecutor m_executor;
};

} // namespace quillbarrow
