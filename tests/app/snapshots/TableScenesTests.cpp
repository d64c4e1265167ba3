#include "TableScenes.h"

#include <QDir>
#include <QImage>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

namespace quillbarrow::snapshots {
namespace {

// Builds and draws every scene. With QUILLBARROW_SCENE_DIR set, the pictures are also written
// there as PNG files for a person to look at.
TEST(TableScenes, EverySceneBuildsAndDraws)
{
    const QString folder = qEnvironmentVariable("QUILLBARROW_SCENE_DIR");
    for (const TableScene& scene : tableScenes()) {
        SCOPED_TRACE(scene.name.toStdString());
        const std::unique_ptr<QWidget> widget = scene.build();
        ASSERT_NE(widget, nullptr);
        widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
        QCoreApplication::processEvents();
        const QImage picture = widget->grab().toImage();
        ASSERT_FALSE(picture.isNull());
        QSet<QRgb> colours;
        for (int y = 0; y < picture.height(); y += 7) {
            for (int x = 0; x < picture.width(); x += 7) {
                colours.insert(picture.pixel(x, y));
            }
        }
        EXPECT_GT(colours.size(), 3) << "a blank picture";
        if (!folder.isEmpty()) {
            QDir().mkpath(folder);
            QString file = scene.name;
            file.replace(u' ', u'-');
            EXPECT_TRUE(picture.save(QDir(folder).filePath(file + QStringLiteral(".png"))));
        }
    }
}

} // namespace
} // namespace quillbarrow::snapshots
