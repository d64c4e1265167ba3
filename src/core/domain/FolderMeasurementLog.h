#pragma once

#include "FolderStatistics.h"
#include "SelectionSizeSummary.h"

#include <QHash>
#include <QList>
#include <QtGlobal>

namespace quillbarrow {

// The folders a browser has measured, in the order their measurements were kept, so that a tally
// of measured sizes (a selection's summary) is brought up to date with the folders measured since
// it was made, each looked at once, rather than made again over every row. Main thread.
template <typename ID> class FolderMeasurementLog {
  public:
    // How much of the log a reader has seen.
    struct Mark {
        quint64 epoch = 0;
        qsizetype length = 0;
    };

    Mark mark() const { return Mark{m_epoch, m_folders.size()}; }

    // A measurement of `folder` is kept (`replaced`: the one it replaces). A first measurement is
    // added; one of other figures than the one it replaces starts the log anew, for what a reader
    // counted of the old one no longer holds.
    void keep(const ID& folder, const FolderStatistics* replaced, const FolderStatistics& measured)
    {
        if (replaced == nullptr) {
            m_folders.append(folder);
        } else if (!(*replaced == measured)) {
            restart();
        }
    }
    // The measurements kept are dropped.
    void restart()
    {
        ++m_epoch;
        m_folders.clear();
    }

    // Brings `tally`, made with the measurements of `seen` (`measured`: those kept now), up to the
    // present: each folder measured since that `counted` says the tally holds counts by its
    // measurement (see SelectionSizeTally::countMeasured()), and `seen` becomes the present.
    // False when that cannot be done (the log started anew since, or the tally cannot tell): the
    // tally is then to be made anew.
    template <typename Counted>
    bool bringUpToDate(SelectionSizeTally& tally, Mark& seen, const QHash<ID, FolderStatistics>& measured,
                       const Counted& counted) const
    {
        if (seen.epoch != m_epoch || seen.length > m_folders.size()) {
            return false;
        }
        for (qsizetype index = seen.length; index < m_folders.size(); ++index) {
            const ID& folder = m_folders[index];
            if (!counted(folder)) {
                continue;
            }
            const auto found = measured.constFind(folder);
            if (found == measured.constEnd() || !tally.countMeasured(*found)) {
                return false;
            }
        }
        seen = mark();
        return true;
    }

  private:
    quint64 m_epoch = 0;
    QList<ID> m_folders;
};

// What a browser lends of its folder measurements for the weight of a selection: those kept and
// their log. Valid while the browser's measurements stay as they are (read it at once).
template <typename ID> class FolderMeasurements {
  public:
    using Mark = typename FolderMeasurementLog<ID>::Mark;

    FolderMeasurements(const QHash<ID, FolderStatistics>& measured, const FolderMeasurementLog<ID>& log)
        : m_measured(measured), m_log(log)
    {
    }

    // The tally of the items `forEach` hands to the function it is given (see tallyEach()), made
    // with the measurements of mark(): no list of them is made.
    template <typename ForEach> SelectionSizeTally tallyOf(const ForEach& forEach) const
    {
        return tallyEach(forEach, m_measured);
    }
    Mark mark() const { return m_log.mark(); }
    // Brings a tally made at `seen` up to the measurements kept now, without going over its items
    // again (see FolderMeasurementLog::bringUpToDate()).
    template <typename Counted>
    bool bringUpToDate(SelectionSizeTally& tally, Mark& seen, const Counted& counted) const
    {
        return m_log.bringUpToDate(tally, seen, m_measured, counted);
    }

  private:
    const QHash<ID, FolderStatistics>& m_measured;
    const FolderMeasurementLog<ID>& m_log;
};

} // namespace quillbarrow
