#pragma once

#include "DeviceContractFactory.h"
#include "RunTask.h"
#include "domain/QuillbarrowError.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillbarrow::testing {

// The rules every device backend and session keeps, checked against one conformer that a
// DeviceContractFactory describes. Instantiate it once per conformer with
// QUILLBARROW_DEVICE_CONTRACT_CONFORMANCE.
class DeviceContractConformance : public ::testing::TestWithParam<DeviceContractFactory> {
protected:
    void SetUp() override;
    void TearDown() override;

    const DeviceContractFactory& factory() const { return GetParam(); }

    template <typename T>
    T run(QCoro::Task<T> task)
    {
        return runTask(std::move(task), factory().watchdog);
    }

    // The QuillbarrowError the operation ends with; nothing when it succeeds. Any other
    // exception passes on and fails the test.
    template <typename T>
    std::optional<QuillbarrowError> failureOf(QCoro::Task<T> task)
    {
        try {
            run(std::move(task));
        } catch (const QuillbarrowError& error) {
            return error;
        }
        return std::nullopt;
    }

    void expectFailure(QuillbarrowError::Kind expected, const std::optional<QuillbarrowError>& actual,
                       const char* operation) const;

    // A folder of this test's own, inside the writable folder; created on first use.
    RemoteItem workFolder();
    RemotePath workFolderPath();
    // A local file of the test's temporary folder with these bytes.
    QString localFile(const QString& name, const QByteArray& bytes) const;
    QString localPath(const QString& name) const;

    std::shared_ptr<MTPBackend> m_backend;
    DeviceID m_deviceID;
    std::shared_ptr<DeviceSession> m_session;
    StorageID m_storageID;
    QTemporaryDir m_local;

private:
    std::optional<RemoteItem> m_workFolder;
    std::optional<RemotePath> m_workFolderPath;
};

std::string deviceContractTestName(const ::testing::TestParamInfo<DeviceContractFactory>& info);

} // namespace quillbarrow::testing

// Runs the whole suite against each conformer that the DeviceContractFactory values after
// `prefix` describe; test names read <prefix>/DeviceContractConformance.<test>/<factory name>.
// Use at file scope, once per prefix in a test executable.
#define QUILLBARROW_DEVICE_CONTRACT_CONFORMANCE(prefix, ...)                                                    \
    namespace quillbarrow::testing {                                                                             \
    INSTANTIATE_TEST_SUITE_P(prefix, DeviceContractConformance, ::testing::Values(__VA_ARGS__),                  \
                             deviceContractTestName);                                                            \
    }
