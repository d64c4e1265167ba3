#pragma once

#include "viewmodels/transfers/DefaultApplicationOpener.h"

#include <QAction>
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMenu>
#include <QStringList>

namespace quillbarrow::testing {

// Stands in for the desktop's opener: records each file it is asked to open with what the file
// held at that moment, launches nothing, and answers as told.
class RecordingOpener : public DefaultApplicationOpener {
  public:
    QCoro::Task<bool> open(const QString& path) override
    {
        opened.append(path);
        QFile file(path);
        contents.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        co_return succeeds;
    }
    QStringList opened;
    QList<QByteArray> contents;
    bool succeeds = true;
};

// A menu's entries as their titles, "-" for a separator.
inline QStringList menuTitles(const QMenu* menu)
{
    QStringList titles;
    for (QAction* action : menu->actions()) {
        titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return titles;
}

} // namespace quillbarrow::testing
