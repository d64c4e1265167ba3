#include "ChromeScenes.h"

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTest>

#include <gtest/gtest.h>

using namespace quillbarrow::snapshots;

namespace {

// The number of distinct colours in the picture, counted up to a small bound.
int colourCount(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 16; y += 3) {
        for (int x = 0; x < image.width() && colours.size() < 16; x += 3) {
            colours.insert(image.pixel(x, y));
        }
    }
    return static_cast<int>(colours.size());
}

} // namespace

// Builds every scene and renders it; with QUILLBARROW_SNAPSHOT_DIR set, also writes each picture
// there as <name>.png for people to look at.
TEST(ChromeScenes, EverySceneBuildsAndRendersSomething)
{
    const QString folder = qEnvironmentVariable("QUILLBARROW_SNAPSHOT_DIR");
    for (const ChromeScene& scene : chromeScenes()) {
        SCOPED_TRACE(scene.name.toStdString());
        std::unique_ptr<QWidget> widget = scene.build();
        widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
        const QImage image = widget->grab().toImage();
        EXPECT_FALSE(image.isNull());
        EXPECT_GT(colourCount(image), 3); // not a blank picture
        if (!folder.isEmpty()) {
            QDir().mkpath(folder);
            EXPECT_TRUE(image.save(folder + u'/' + scene.name + QStringLiteral(".png")));
        }
        widget->hide();
    }
}
