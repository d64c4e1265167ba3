#include "chrome/ChromeIcons.h"

#include "chrome/ChromeSymbolPainter.h"

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

// The symbol drawn in one colour at the usual sizes.
QIcon drawnIcon(const QString& symbolName, const QColor& colour)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        icon.addPixmap(ChromeIcons::tinted(symbolName, colour, size));
    }
    return icon;
}

} // namespace

QIcon ChromeIcons::icon(const QString& symbolName)
{
    const auto found = iconSources().constFind(symbolName);
    if (found == iconSources().constEnd()) {
        return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    }
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(found->themeName));
    if (!themed.isNull()) {
        return themed;
    }
    if (ChromeSymbolPainter::canDraw(symbolName)) {
        return drawnIcon(symbolName, QApplication::palette().color(QPalette::WindowText));
    }
    return QApplication::style()->standardIcon(found->fallback);
}

QPixmap ChromeIcons::tinted(const QString& symbolName, const QColor& colour, int size)
{
    if (ChromeSymbolPainter::canDraw(symbolName)) {
        // Tinted symbols are drawn: a one-colour theme icon would lose its inner shape.
        QPixmap drawn(size, size);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        ChromeSymbolPainter::draw(painter, QRectF(0, 0, size, size), symbolName,
                                  colour.isValid() ? colour : QApplication::palette().color(QPalette::WindowText));
        return drawn;
    }
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
