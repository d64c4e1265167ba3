#pragma once

#include "FakeLibMTPBridge.h"
#include "RunTask.h"
#include "domain/QuillbarrowError.h"
#include "transport/LibMTPDeviceSession.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <type_traits>

namespace quillbarrow::testing {

// A session over a fake bridge with one storage, "Internal shared storage" (id 65537), and a
// temporary folder for local files. Every test ends by checking that the session kept the
// bridge's rules: no overlapping calls, no device call from the main thread, no call on a
// closed handle, every list freed.
class LibMTPDeviceSessionTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t storage = 65537;
    static constexpr std::uint32_t root = FakeLibMTPBridge::rootParent;

    void SetUp() override;
    void TearDown() override;
    // What the sessions of this test share with a backend; none by default.
    virtual LibMTPSessionServices services() const { return {}; }

    static AndroidDevice device();
    static StorageID storageID() { return StorageID(QString::number(storage)); }
    static RemoteObjectID idOf(std::uint32_t id) { return RemoteObjectID(QString::number(id)); }
    static RemotePath rootPath() { return RemotePath(storageID(), {}); }

    // A file of the test's temporary folder with these bytes; its path.
    QString localFile(const QString& name, const QByteArray& bytes) const;

    std::shared_ptr<FakeLibMTPBridge> m_bridge;
    std::shared_ptr<LibMTPDeviceSession> m_session;
    QTemporaryDir m_local;
};

// The QuillbarrowError an operation ends with; nothing when it succeeds.
template <typename T>
std::optional<QuillbarrowError> sessionFailure(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (const QuillbarrowError& error) {
        return error;
    }
    return std::nullopt;
}

inline std::string kindOf(const std::optional<QuillbarrowError>& error)
{
    return error ? QuillbarrowError::kindName(error->kind()).toStdString() : std::string("success");
}

// Awaits an operation and writes how it ended into `log`: "<label> ok", or the label, the
// error's kind and its message.
template <typename T>
QCoro::Task<> noteEnding(QCoro::Task<T> task, std::shared_ptr<QStringList> log, QString label)
{
    try {
        co_await task;
        log->append(label + QStringLiteral(" ok"));
    } catch (const QuillbarrowError& error) {
        log->append(label + QLatin1Char(' ') + QuillbarrowError::kindName(error.kind()) + QStringLiteral(": ") +
                    error.message());
    }
}

} // namespace quillbarrow::testing
