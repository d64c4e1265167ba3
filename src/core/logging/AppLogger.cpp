#include "AppLogger.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QMessageLogger>
#include <QMutex>
#include <QMutexLocker>

#include <map>
#include <memory>

namespace quillbarrow {

namespace {

constexpr char subsystem[] = "com.quillbarrow.app.";

// A category keeps a pointer to its name, so the name lives beside it, for as long as it does.
struct RegisteredCategory {
    explicit RegisteredCategory(QByteArray fullName) : name(std::move(fullName)), category(name.constData()) {}

    const QByteArray name;
    QLoggingCategory category;
};

class CategoryRegistry {
public:
    const QLoggingCategory* categoryFor(const QString& category)
    {
        QMutexLocker lock(&m_mutex);
        auto found = m_categories.find(category);
        if (found == m_categories.end()) {
            QByteArray fullName = QByteArray(subsystem) + category.toUtf8();
            found = m_categories.emplace(category, std::make_unique<RegisteredCategory>(std::move(fullName))).first;
        }
        return &found->second->category;
    }

private:
    QMutex m_mutex;
    std::map<QString, std::unique_ptr<RegisteredCategory>> m_categories;
};

CategoryRegistry& registry()
{
    // Deliberately never destroyed: loggers may still be used while other statics are torn down.
    static CategoryRegistry* const instance = new CategoryRegistry;
    return *instance;
}

QMessageLogger loggerFor(const QLoggingCategory& category)
{
    return QMessageLogger(nullptr, 0, nullptr, category.categoryName());
}

} // namespace

AppLogger::AppLogger(const QString& category) : m_category(registry().categoryFor(category)) {}

void AppLogger::debug(const QString& message) const
{
    if (!m_category->isDebugEnabled()) {
        return;
    }
    // The message is the argument of a fixed "%s" format, so '%' and braces in it stay as they are.
    loggerFor(*m_category).debug("%s", message.toUtf8().constData());
}

void AppLogger::info(const QString& message) const
{
    if (!m_category->isInfoEnabled()) {
        return;
    }
    loggerFor(*m_category).info("%s", message.toUtf8().constData());
}

void AppLogger::info(QLatin1StringView what, const QString& subject) const
{
    if (!m_category->isInfoEnabled()) {
        return;
    }
    loggerFor(*m_category).info("%s", (what + subject).toUtf8().constData());
}

void AppLogger::error(const QString& message) const
{
    if (!m_category->isCriticalEnabled()) {
        return;
    }
    loggerFor(*m_category).critical("%s", message.toUtf8().constData());
}

const char* AppLogger::categoryName() const
{
    return m_category->categoryName();
}

} // namespace quillbarrow
