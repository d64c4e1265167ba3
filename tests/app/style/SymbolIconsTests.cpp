#include "style/SymbolIcons.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

// Pixels that are not fully transparent: a blank icon has none.
int visiblePixels(const QIcon& icon)
{
    const QImage image = icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return count;
}

TEST(SymbolIcons, EverySymbolOfTheWindowIsDrawnFromTheInstalledThemeOrABundledPicture)
{
    SymbolIcons::reload();
    const QStringList symbols = SymbolIcons::knownSymbols();
    ASSERT_GE(symbols.size(), 40);
    for (const QString& symbol : symbols) {
        SCOPED_TRACE(symbol.toStdString());
        EXPECT_GT(visiblePixels(SymbolIcons::icon(symbol)), 10);
        // scripts/setup.sh installs Adwaita and the SVG plugin: no symbol needs the generic
        // standard icon there.
        const QString source = SymbolIcons::sourceOf(symbol);
        EXPECT_TRUE(source.startsWith(QLatin1StringView("theme:")) || source.startsWith(QLatin1StringView("bundled:")))
            << source.toStdString();
    }
}

TEST(SymbolIcons, WithoutAnyIconThemeNoSymbolIsBlank)
{
    SymbolIcons::installFallbackTheme(); // done once; it would put the search paths back
    const QStringList paths = QIcon::themeSearchPaths();
    const QStringList fallbackPaths = QIcon::fallbackSearchPaths();
    QIcon::setThemeSearchPaths({});
    QIcon::setFallbackSearchPaths({});
    SymbolIcons::reload();
    for (const QString& symbol : SymbolIcons::knownSymbols()) {
        SCOPED_TRACE(symbol.toStdString());
        EXPECT_FALSE(SymbolIcons::sourceOf(symbol).startsWith(QLatin1StringView("theme:")));
        EXPECT_GT(visiblePixels(SymbolIcons::icon(symbol)), 10);
    }
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackSearchPaths(fallbackPaths);
    SymbolIcons::reload();
}

TEST(SymbolIcons, AnUnknownSymbolStillGivesAnIcon)
{
    EXPECT_TRUE(SymbolIcons::sourceOf(QStringLiteral("no.such.symbol")).isEmpty());
    EXPECT_GT(visiblePixels(SymbolIcons::icon(QStringLiteral("no.such.symbol"))), 10);
}

TEST(SymbolIcons, ATintedSymbolIsDrawnInItsColourOnly)
{
    const QColor blue(0, 122, 255);
    const QImage image =
        SymbolIcons::tinted(QStringLiteral("folder"), blue).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    int tinted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255) {
                EXPECT_EQ(QColor(pixel).rgb(), blue.rgb());
                ++tinted;
            }
        }
    }
    EXPECT_GT(tinted, 10);
    // Disabled, the same shape is drawn fainter.
    const QImage disabled = SymbolIcons::tinted(QStringLiteral("folder"), blue)
                                .pixmap(QSize(16, 16), QIcon::Disabled)
                                .toImage()
                                .convertToFormat(QImage::Format_ARGB32);
    int maximumAlpha = 0;
    for (int y = 0; y < disabled.height(); ++y) {
        for (int x = 0; x < disabled.width(); ++x) {
            maximumAlpha = std::max(maximumAlpha, qAlpha(disabled.pixel(x, y)));
        }
    }
    EXPECT_GT(maximumAlpha, 0);
    EXPECT_LE(maximumAlpha, 110);
}

TEST(SymbolIcons, AButtonCarriesItsSymbolName)
{
    QPushButton button;
    SymbolIcons::apply(&button, QStringLiteral("arrow.clockwise"));
    EXPECT_EQ(SymbolIcons::symbolOf(&button), QStringLiteral("arrow.clockwise"));
    EXPECT_FALSE(button.icon().isNull());
}

} // namespace
} // namespace quillbarrow
