#include "AppMenuBar.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace quillbarrow {

AppMenuBar::AppMenuBar(QWidget* parent) : QMenuBar(parent)
{
    setObjectName(QStringLiteral("appMenuBar"));
    QMenu* application = addMenu(tr("Quillbarrow"));
    application->setObjectName(QStringLiteral("applicationMenu"));
    m_about = application->addAction(tr("About Quillbarrow"));
    m_about->setObjectName(QStringLiteral("aboutAction"));
    m_about->setMenuRole(QAction::NoRole);
    m_information = application->addAction(informationText());
    m_information->setObjectName(QStringLiteral("informationAction"));
    m_information->setEnabled(false);
    application->addSeparator();
    m_quit = application->addAction(tr("Quit Quillbarrow"));
    m_quit->setObjectName(QStringLiteral("quitAction"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setMenuRole(QAction::NoRole);

    QMenu* file = addMenu(tr("File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    m_newWindow = file->addAction(tr("New Window"));
    m_newWindow->setObjectName(QStringLiteral("newWindowAction"));
    m_newWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));

    connect(m_about, &QAction::triggered, this, &AppMenuBar::aboutRequested);
    connect(m_quit, &QAction::triggered, this, &AppMenuBar::quitRequested);
    connect(m_newWindow, &QAction::triggered, this, &AppMenuBar::newWindowRequested);
}

QString AppMenuBar::informationText()
{
    return tr("Quillbarrow uses local USB/MTP access only. No analytics or uploads are enabled.");
}

} // namespace quillbarrow
