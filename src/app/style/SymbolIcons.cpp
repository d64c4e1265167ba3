#include "SymbolIcons.h"

#include "style/TintedIconEngine.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHash>
#include <QStandardPaths>
#include <QStyle>
#include <QVariant>

#include <array>
#include <initializer_list>
#include <utility>

namespace quillbarrow {

namespace {

// One symbol: freedesktop names in order of preference, then an optional bundled picture, then
// the standard icon of the widget style that always exists.
struct SymbolEntry {
    const char* symbol;
    std::initializer_list<const char*> themeNames;
    const char* bundled;
    QStyle::StandardPixmap standard;
};

// Symbolic names come first: they are one-colour glyphs like the symbols they stand for, and
// tint cleanly. Adwaita ships every name of the first column.
const std::array symbolTable{
    SymbolEntry{"folder", {"folder-symbolic", "folder"}, nullptr, QStyle::SP_DirIcon},
    SymbolEntry{"doc", {"text-x-generic-symbolic", "text-x-generic"}, nullptr, QStyle::SP_FileIcon},
    SymbolEntry{"doc.text", {"x-office-document-symbolic", "text-x-generic-symbolic"}, nullptr, QStyle::SP_FileIcon},
    SymbolEntry{"doc.on.doc", {"edit-copy-symbolic", "edit-copy"}, nullptr, QStyle::SP_FileIcon},
    SymbolEntry{"house", {"user-home-symbolic", "user-home", "go-home"}, nullptr, QStyle::SP_DirHomeIcon},
    SymbolEntry{"laptopcomputer", {"computer-symbolic", "computer"}, nullptr, QStyle::SP_ComputerIcon},
    SymbolEntry{"iphone.gen3", {"phone-symbolic", "phone"}, nullptr, QStyle::SP_DriveHDIcon},
    SymbolEntry{"externaldrive", {"drive-harddisk-symbolic", "drive-harddisk"}, nullptr, QStyle::SP_DriveHDIcon},
    SymbolEntry{"externaldrive.connected.to.line.below", {"network-server-symbolic", "folder-remote-symbolic"},
                nullptr, QStyle::SP_DriveNetIcon},
    SymbolEntry{"externaldrive.badge.questionmark", {"drive-harddisk-symbolic", "dialog-question-symbolic"},
                nullptr, QStyle::SP_DriveHDIcon},
    SymbolEntry{"internaldrive", {"drive-harddisk-system-symbolic", "drive-harddisk-symbolic"}, nullptr,
                QStyle::SP_DriveHDIcon},
    SymbolEntry{"sdcard", {"media-flash-symbolic", "media-flash"}, nullptr, QStyle::SP_DriveFDIcon},
    SymbolEntry{"arrow.clockwise", {"view-refresh-symbolic", "view-refresh"}, nullptr, QStyle::SP_BrowserReload},
    SymbolEntry{"arrow.down.circle", {"folder-download-symbolic", "go-down-symbolic"}, nullptr, QStyle::SP_ArrowDown},
    SymbolEntry{"arrow.up.circle", {"send-to-symbolic", "go-up-symbolic"}, nullptr, QStyle::SP_ArrowUp},
    SymbolEntry{"arrow.left", {"go-previous-symbolic", "go-previous"}, nullptr, QStyle::SP_ArrowLeft},
    SymbolEntry{"arrow.right", {"go-next-symbolic", "go-next"}, nullptr, QStyle::SP_ArrowRight},
    SymbolEntry{"arrow.up.arrow.down", {"network-transmit-receive-symbolic"}, nullptr, QStyle::SP_ArrowUp},
    SymbolEntry{"arrow.left.arrow.right", {"object-flip-horizontal-symbolic"}, nullptr, QStyle::SP_ArrowRight},
    SymbolEntry{"chevron.up", {"go-up-symbolic", "pan-up-symbolic"}, nullptr, QStyle::SP_ArrowUp},
    SymbolEntry{"chevron.right", {"pan-end-symbolic", "go-next-symbolic"}, nullptr, QStyle::SP_ArrowRight},
    SymbolEntry{"star", {"starred-symbolic", "starred"}, ":/symbols/star.svg", QStyle::SP_FileDialogDetailedView},
    SymbolEntry{"star.badge.plus", {"bookmark-new-symbolic", "bookmark-new"}, ":/symbols/star.svg",
                QStyle::SP_FileDialogDetailedView},
    SymbolEntry{"pin", {"view-pin-symbolic"}, nullptr, QStyle::SP_DialogApplyButton},
    SymbolEntry{"eye", {"view-reveal-symbolic"}, nullptr, QStyle::SP_FileDialogContentsView},
    SymbolEntry{"eye.slash", {"view-conceal-symbolic"}, nullptr, QStyle::SP_FileDialogListView},
    SymbolEntry{"eye.circle", {"view-reveal-symbolic"}, nullptr, QStyle::SP_FileDialogContentsView},
    SymbolEntry{"trash", {"user-trash-symbolic", "edit-delete-symbolic", "user-trash"}, nullptr, QStyle::SP_TrashIcon},
    SymbolEntry{"pencil", {"document-edit-symbolic", "document-edit"}, nullptr, QStyle::SP_FileDialogDetailedView},
    SymbolEntry{"folder.badge.plus", {"folder-new-symbolic", "folder-new"}, nullptr, QStyle::SP_FileDialogNewFolder},
    SymbolEntry{"checklist", {}, ":/symbols/checklist.svg", QStyle::SP_FileDialogListView},
    SymbolEntry{"sum", {}, ":/symbols/sum.svg", QStyle::SP_FileDialogInfoView},
    SymbolEntry{"tray.and.arrow.down", {"document-save-symbolic", "document-save"}, nullptr,
                QStyle::SP_DialogSaveButton},
    SymbolEntry{"clock.arrow.circlepath", {"document-open-recent-symbolic"}, nullptr, QStyle::SP_BrowserReload},
    SymbolEntry{"checkmark.circle.fill", {"emblem-ok-symbolic", "object-select-symbolic"}, nullptr,
                QStyle::SP_DialogApplyButton},
    SymbolEntry{"xmark.circle.fill", {"window-close-symbolic", "process-stop-symbolic"}, nullptr,
                QStyle::SP_DialogCloseButton},
    SymbolEntry{"xmark.circle", {"window-close-symbolic", "process-stop-symbolic"}, nullptr,
                QStyle::SP_DialogCloseButton},
    SymbolEntry{"exclamationmark.triangle.fill", {"dialog-warning-symbolic", "dialog-warning"}, nullptr,
                QStyle::SP_MessageBoxWarning},
    SymbolEntry{"exclamationmark.octagon.fill", {"dialog-error-symbolic", "dialog-error"}, nullptr,
                QStyle::SP_MessageBoxCritical},
    SymbolEntry{"envelope", {"mail-unread-symbolic", "mail-message-new-symbolic"}, nullptr,
                QStyle::SP_MessageBoxInformation},
    SymbolEntry{"cable.connector", {"media-removable-symbolic", "drive-removable-media-symbolic"}, nullptr,
                QStyle::SP_DriveFDIcon},
    SymbolEntry{"lock.open", {"changes-allow-symbolic"}, nullptr, QStyle::SP_DialogOkButton},
    SymbolEntry{"checkmark.shield", {"security-high-symbolic"}, nullptr, QStyle::SP_DialogApplyButton},
    SymbolEntry{"camera", {"camera-photo-symbolic", "camera-photo"}, nullptr, QStyle::SP_DirIcon},
    SymbolEntry{"photo", {"image-x-generic-symbolic", "image-x-generic"}, nullptr, QStyle::SP_FileIcon},
    SymbolEntry{"film", {"video-x-generic-symbolic", "video-x-generic"}, nullptr, QStyle::SP_MediaPlay},
    SymbolEntry{"music.note", {"audio-x-generic-symbolic", "audio-x-generic"}, nullptr, QStyle::SP_MediaVolume},
    SymbolEntry{"menubar.rectangle", {"user-desktop-symbolic", "user-desktop"}, nullptr, QStyle::SP_DesktopIcon},
};

const SymbolEntry* entryFor(const QString& symbol)
{
    for (const SymbolEntry& entry : symbolTable) {
        if (symbol == QLatin1StringView(entry.symbol)) {
            return &entry;
        }
    }
    return nullptr;
}

// A bundled picture counts only where it can be drawn: SVG needs Qt's SVG plugin.
bool canDraw(const QIcon& icon)
{
    return !icon.isNull() && !icon.pixmap(16, 16).isNull();
}

struct Resolved {
    QIcon icon;
    QString source;
};

Resolved resolve(const QString& symbol)
{
    SymbolIcons::installFallbackTheme();
    const SymbolEntry* entry = entryFor(symbol);
    QStyle* style = QApplication::style();
    if (entry == nullptr) {
        return {style->standardIcon(QStyle::SP_FileIcon), QString()};
    }
    for (const char* name : entry->themeNames) {
        const QString themeName = QString::fromLatin1(name);
        if (QIcon::hasThemeIcon(themeName)) {
            return {QIcon::fromTheme(themeName), QStringLiteral("theme:") + themeName};
        }
    }
    if (entry->bundled != nullptr && QFile::exists(QString::fromLatin1(entry->bundled))) {
        QIcon bundled(QString::fromLatin1(entry->bundled));
        if (canDraw(bundled)) {
            return {bundled, QStringLiteral("bundled:") + QString::fromLatin1(entry->bundled)};
        }
    }
    return {style->standardIcon(entry->standard), QStringLiteral("style")};
}

// Icons are asked for per row and per button; resolving once per symbol keeps that cheap.
QHash<QString, Resolved>& resolvedCache()
{
    static QHash<QString, Resolved> cache;
    return cache;
}

const Resolved& cachedResolve(const QString& symbol)
{
    QHash<QString, Resolved>& cache = resolvedCache();
    auto found = cache.find(symbol);
    if (found == cache.end()) {
        found = cache.insert(symbol, resolve(symbol));
    }
    return *found;
}

} // namespace

void SymbolIcons::installFallbackTheme()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    // Outside a desktop session (the offscreen platform, a bare X server) Qt looks for themes in
    // its own resources only; the installed themes live in the XDG data folders.
    QStringList searchPaths = QIcon::themeSearchPaths();
    const QStringList installed =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory);
    for (const QString& folder : installed) {
        if (!searchPaths.contains(folder)) {
            searchPaths.append(folder);
        }
    }
    QIcon::setThemeSearchPaths(searchPaths);
    const QString fallback = QIcon::fallbackThemeName();
    if (fallback.isEmpty() || fallback == QLatin1StringView("hicolor")) {
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    }
    // Without a desktop session Qt names no theme at all; the installed one is then the theme.
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1StringView("hicolor")) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
}

void SymbolIcons::reload()
{
    resolvedCache().clear();
}

QIcon SymbolIcons::icon(const QString& symbol)
{
    return cachedResolve(symbol).icon;
}

QIcon SymbolIcons::tinted(const QString& symbol, const QColor& color)
{
    return QIcon(new TintedIconEngine(icon(symbol), color, QApplication::palette().color(QPalette::HighlightedText)));
}

void SymbolIcons::apply(QAbstractButton* button, const QString& symbol)
{
    button->setIcon(icon(symbol));
    button->setProperty(symbolProperty, symbol);
}

void SymbolIcons::apply(QAction* action, const QString& symbol)
{
    action->setIcon(icon(symbol));
    action->setProperty(symbolProperty, symbol);
}

QString SymbolIcons::symbolOf(const QWidget* widget)
{
    return widget->property(symbolProperty).toString();
}

QStringList SymbolIcons::knownSymbols()
{
    QStringList symbols;
    for (const SymbolEntry& entry : symbolTable) {
        symbols.append(QString::fromLatin1(entry.symbol));
    }
    return symbols;
}

QString SymbolIcons::sourceOf(const QString& symbol)
{
    return cachedResolve(symbol).source;
}

} // namespace quillbarrow
