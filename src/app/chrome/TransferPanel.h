#pragma once

#include "domain/TransferID.h"
#include "domain/TransferJob.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedLayout;

namespace quillbarrow {

class TransferCoordinator;
class TransferJobDelegate;
class TransferJobListModel;

// The strip under the panes that sums up the transfer queue: the header line (counts, overall
// bar and percentage, "Clear Finished") and one painted row per job, finished ones included. It
// keeps no state of its own: each publication of the coordinator's transferJobs (coalesced to one
// per frame) is mirrored into the list model. A row's cancel button calls cancelTransfer for that
// job, "Clear Finished" calls clearCompletedTransfers. The row awaiting the user's confirmation, or
// else the first running one, is scrolled into view when it becomes that row. Without a coordinator the panel shows what
// setJobs() gives it and only emits its signals.
class TransferPanel final : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultHeight = 160;
    static constexpr int minimumHeight = 80;
    static constexpr int maximumHeight = 520;

    explicit TransferPanel(TransferCoordinator* coordinator, QWidget* parent = nullptr);

    // Mirrors the list at once (the coordinator's publications go through here too).
    void setJobs(const QList<TransferJob>& jobs);
    // The panel's whole height, insets included, clamped to smallestHeight()...520.
    void setPanelHeight(int height);
    int panelHeight() const { return m_height; }
    // 80, or more when the font needs it to show the header and one whole row.
    int smallestHeight() const;

    TransferJobListModel* model() const { return m_model; }
    QListView* listView() const { return m_list; }

Q_SIGNALS:
    void cancelRequested(const quillbarrow::TransferID& id);
    void clearRequested();
    void panelHeightChanged(int height);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void scheduleRefresh();
    void refreshFromCoordinator();
    void updateHeader();
    void keepActiveRowInView(bool rowsChanged);
    // Gives the list the height of the whole rows that fit in its page, so that no row shows cut.
    void fitWholeRows();

    QPointer<TransferCoordinator> m_coordinator;
    TransferJobListModel* m_model;
    TransferJobDelegate* m_delegate;
    QListView* m_list;
    QWidget* m_listPage;
    QLabel* m_emptyText;
    QStackedLayout* m_body;
    QLabel* m_title;
    QList<QLabel*> m_countLabels;
    QProgressBar* m_overallBar;
    QLabel* m_percent;
    QPushButton* m_clearFinished;
    QTimer m_refreshTimer{this};
    int m_height = defaultHeight;
    // The job whose row was last scrolled into view.
    std::optional<TransferID> m_inViewJob;
};

// The thin strip above the panel that resizes it: dragging up makes the panel taller, within
// the panel's clamps.
class TransferPanelResizeHandle final : public QWidget {
    Q_OBJECT

public:
    explicit TransferPanelResizeHandle(TransferPanel* panel, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<TransferPanel> m_panel;
    std::optional<int> m_dragStartHeight;
    qreal m_dragStartY = 0;
};

} // namespace quillbarrow
