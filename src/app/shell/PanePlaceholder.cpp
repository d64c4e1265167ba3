#include "PanePlaceholder.h"

#include "WindowState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {

constexpr int padding = 10;
// The focused pane's tint: the accent colour at this opacity.
constexpr qreal focusTintOpacity = 0.06;
// Secondary texts: the text colour at reduced opacity.
constexpr qreal secondaryTextOpacity = 0.55;

void makeSecondary(QLabel* label, qreal pointSizeDelta)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() + pointSizeDelta);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(secondaryTextOpacity);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
}

} // namespace

PanePlaceholder::PanePlaceholder(const QString& title, const QString& note, QWidget* parent)
    : QWidget(parent), m_title(new QLabel(title, this)), m_focused(new QLabel(tr("focused"), this)),
      m_note(new QLabel(note, this))
{
    m_title->setObjectName(QStringLiteral("placeholderTitle"));
    m_focused->setObjectName(QStringLiteral("focusedLabel"));
    m_note->setObjectName(QStringLiteral("placeholderNote"));
    m_title->setTextFormat(Qt::PlainText);
    m_note->setTextFormat(Qt::PlainText);
    QFont headline = m_title->font();
    headline.setBold(true);
    m_title->setFont(headline);
    makeSecondary(m_focused, -2);
    makeSecondary(m_note, 0);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_focused->hide();

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    titleRow->addWidget(m_title);
    titleRow->addStretch(1);
    titleRow->addWidget(m_focused);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->addLayout(titleRow);
    layout->addStretch(1);
    layout->addWidget(m_note);
    layout->addStretch(1);
}

void PanePlaceholder::setTitle(const QString& title)
{
    m_title->setText(title);
}

QString PanePlaceholder::title() const
{
    return m_title->text();
}

void PanePlaceholder::setNote(const QString& note)
{
    m_note->setText(note);
}

void PanePlaceholder::followFocus(WindowState* state, FocusedPane side)
{
    m_state = state;
    m_side = side;
    connect(state, &WindowState::focusedPaneChanged, this, &PanePlaceholder::showFocus);
    showFocus();
}

bool PanePlaceholder::isFocusedPane() const
{
    return m_side && m_state != nullptr && m_state->focusedPane() == *m_side;
}

void PanePlaceholder::showFocus()
{
    m_focused->setVisible(isFocusedPane());
    update();
}

void PanePlaceholder::paintEvent(QPaintEvent* /*event*/)
{
    if (!isFocusedPane()) {
        return;
    }
    QPainter painter(this);
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlphaF(focusTintOpacity);
    painter.fillRect(rect(), tint);
}

void PanePlaceholder::mousePressEvent(QMouseEvent* event)
{
    if (m_side && m_state != nullptr) {
        m_state->focusPane(*m_side);
    }
    QWidget::mousePressEvent(event);
}

} // namespace quillbarrow
