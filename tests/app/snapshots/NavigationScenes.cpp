#include "NavigationScenes.h"

#include "../panes/StorageSwitchRig.h"
#include "panes/AndroidNavigation.h"
#include "window/DetachedCall.h"

#include <QVBoxLayout>

namespace quillbarrow::snapshots {

namespace {

// Keeps the browsers for as long as the controls over them are shown.
class NavigationSceneWidget final : public QWidget {
public:
    NavigationSceneWidget()
    {
        m_switching.connect();
        m_browsing.connect();
        m_browsing.openFolder(QStringLiteral("DCIM"));
        m_browsing.openFolder(QStringLiteral("Camera"));
        m_switching.hold->held.insert(testing::cardStorage().id);
        startDetached(m_switching.browser.openStorage(testing::cardStorage()));

        m_content = new QWidget(this);
        auto* column = new QVBoxLayout(m_content);
        column->setContentsMargins(10, 10, 10, 10);
        column->setSpacing(10);
        column->addWidget(new AndroidStorageSwitcher(m_switching.browser, {}, m_content), 0, Qt::AlignLeft);
        column->addWidget(new AndroidBreadcrumbBar(m_browsing.browser, m_content));
        column->addStretch(1);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_content);
        resize(420, 90);
    }

    // The controls go before the browsers they show.
    ~NavigationSceneWidget() override { delete m_content; }

private:
    testing::StorageRig m_switching;
    testing::StorageRig m_browsing;
    QWidget* m_content = nullptr;
};

} // namespace

std::unique_ptr<QWidget> androidNavigationScene()
{
    return std::make_unique<NavigationSceneWidget>();
}

} // namespace quillbarrow::snapshots
