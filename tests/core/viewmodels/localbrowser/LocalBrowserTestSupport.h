#pragma once

#include "domain/LocalItem.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

// Readable texts and addresses in GoogleTest's failure messages (QString and QUrl live in the
// global namespace, where GoogleTest looks for their printers).
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QUrl& url, std::ostream* out);

namespace quillbarrow {
void PrintTo(const VolumeLocation& location, std::ostream* out);
void PrintTo(const LocalFavoriteLocation& location, std::ostream* out);
} // namespace quillbarrow

namespace quillbarrow::testing {

// Sets environment variables for the length of a test and puts the old values back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const char* name, const QString& value);

private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// Collects what the loggers write while it lives.
class LogCapture {
public:
    struct Entry {
        QString category;
        QtMsgType type;
        QString message;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Entry> entries() const;
};

// A real temporary tree with its own home folder ("home") and data folder ("data", where the
// home Trash is), and a browser over it whose folders are read by one worker thread, in order.
class LocalBrowserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The absolute path of `relative` inside the temporary tree.
    QString path(const QString& relative) const;
    QUrl url(const QString& relative) const;
    void makeFolder(const QString& relative) const;
    void makeFile(const QString& relative, const QByteArray& contents = {}) const;

    std::unique_ptr<LocalBrowserViewModel> makeModel(std::optional<QUrl> startingAt);
    // Runs the event loop until the model's newest listing has been applied.
    static void waitForListing(const LocalBrowserViewModel& model);
    // Runs the event loop until no folder is being measured.
    static void waitForMeasurements(const LocalBrowserViewModel& model);
    // The shown item of that name.
    static LocalItem shownItem(const LocalBrowserViewModel& model, const QString& name);

    // When the test process runs as root, runs the current test again as an unprivileged user
    // (permissions bind there), expects it to pass, and returns true: the caller then returns.
    // False when the process is unprivileged already: the caller goes on with the test.
    static bool rerunUnprivileged();

    QTemporaryDir m_root;
    ScopedEnvironment m_environment;
    std::shared_ptr<InMemoryUserDefaults> m_defaults;
    QThreadPool m_pool;
};

QStringList names(const QList<LocalItem>& items);

} // namespace quillbarrow::testing
