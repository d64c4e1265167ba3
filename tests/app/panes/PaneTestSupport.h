#pragma once

#include "viewmodels/transfers/DefaultApplicationOpener.h"

#include <QAction>
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMenu>
#include <QMetaType>
#include <QMimeData>
#include <QStringList>
#include <QTextDocument>
#include <QVariant>

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

// Drag data that counts the reads of each of its formats, each of which a drag from another
// application may fetch from its source anew.
class CountingMimeData : public QMimeData {
  public:
    mutable QHash<QString, int> reads;

  protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override
    {
        ++reads[format];
        return QMimeData::retrieveData(format, type);
    }
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

// What a tooltip shows of its text: text that looks like markup is drawn as markup.
inline QString shownTip(const QString& toolTip)
{
    if (!Qt::mightBeRichText(toolTip)) {
        return toolTip;
    }
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

} // namespace quillbarrow::testing
