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

    void SetUp() override
    {
        ASSERT_TRUE(m_local.isValid());
        m_bridge = std::make_shared<FakeLibMTPBridge>();
        m_bridge->addStorage({storage, 64'000'000'000, 1'000'000, "Internal shared storage", "primary"});
        m_session = std::make_shared<LibMTPDeviceSession>(device(), m_bridge->handle(), m_bridge);
    }

    void TearDown() override
    {
        EXPECT_EQ(m_bridge->overlappingCalls(), 0);
        EXPECT_EQ(m_bridge->mainThreadCalls(), 0);
        EXPECT_EQ(m_bridge->badHandleCalls(), 0);
        EXPECT_EQ(m_bridge->unfreedLists(), 0);
    }

    static AndroidDevice device()
    {
        return AndroidDevice(DeviceID(QStringLiteral("libmtp-1-4")), QStringLiteral("Pixel 8"),
                             QStringLiteral("Google"), QStringLiteral("Pixel 8"), QStringLiteral("SER123"),
                             DeviceConnectionKind::usb);
    }

    static StorageID storageID() { return StorageID(QString::number(storage)); }
    static RemoteObjectID idOf(std::uint32_t id) { return RemoteObjectID(QString::number(id)); }
    static RemotePath rootPath() { return RemotePath(storageID(), {}); }

    QString localFile(const QString& name, const QByteArray& bytes) const
    {
        const QString path = m_local.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }

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
