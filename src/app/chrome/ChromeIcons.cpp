#include "chrome/ChromeIcons.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace quillbarrow {

namespace {

struct IconSource {
    const char* themeName;
    QStyle::StandardPixmap fallback;
};

const QHash<QString, IconSource>& iconSources()
{
    static const QHash<QString, IconSource> sources{
        {QStringLiteral("iphone.gen3"), {"phone", QStyle::SP_DriveHDIcon}},
        {QStringLiteral("arrow.clockwise"), {"view-refresh", QStyle::SP_BrowserReload}},
        {QStringLiteral("arrow.left.arrow.right"), {"exchange-positions", QStyle::SP_ArrowRight}},
        {QStringLiteral("envelope"), {"mail-send", QStyle::SP_DialogYesButton}},
        {QStringLiteral("cable.connector"), {"network-wired", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("lock.open"), {"object-unlocked", QStyle::SP_DialogOpenButton}},
        {QStringLiteral("folder"), {"folder", QStyle::SP_DirIcon}},
        {QStringLiteral("checkmark.shield"), {"security-high", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("exclamationmark.triangle.fill"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("doc.on.doc"), {"edit-copy", QStyle::SP_FileIcon}},
        {QStringLiteral("arrow.up.arrow.down"), {"view-sort", QStyle::SP_ArrowUp}},
        {QStringLiteral("eye.circle"), {"view-visible", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("eye"), {"view-visible", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("arrow.down.circle"), {"go-down", QStyle::SP_ArrowDown}},
        {QStringLiteral("arrow.up.circle"), {"go-up", QStyle::SP_ArrowUp}},
        {QStringLiteral("xmark.circle"), {"process-stop", QStyle::SP_DialogCloseButton}},
    };
    return sources;
}

} // namespace

QIcon ChromeIcons::icon(const QString& symbolName)
{
    const auto found = iconSources().constFind(symbolName);
    if (found == iconSources().constEnd()) {
        return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    }
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(found->themeName));
    return themed.isNull() ? QApplication::style()->standardIcon(found->fallback) : themed;
}

QPixmap ChromeIcons::tinted(const QString& symbolName, const QColor& colour, int size)
{
    QPixmap pixmap = icon(symbolName).pixmap(size, size);
    if (!colour.isValid() || pixmap.isNull()) {
        return pixmap;
    }
    // Keep the icon's shape (its alpha) and paint it in the one colour.
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

void ChromeIcons::apply(QAbstractButton* button, const QString& symbolName)
{
    button->setIcon(icon(symbolName));
    button->setProperty("symbolName", symbolName);
}

void ChromeIcons::apply(QLabel* label, const QString& symbolName, int size, const QColor& colour)
{
    label->setPixmap(tinted(symbolName, colour, size));
    label->setProperty("symbolName", symbolName);
}

} // namespace quillbarrow
