#include "chrome/ConflictResolutionSheet.h"

#include "chrome/ChromeIcons.h"
#include "chrome/ChromeStyle.h"
#include "chrome/KeyboardFocusRing.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {

QLabel* wrappingText(const QString& text, const QFont& font, bool secondary)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    ChromeStyle::setText(label, font, secondary);
    return label;
}

} // namespace

ConflictResolutionSheet::ConflictResolutionSheet(ConflictRequest request, QWidget* parent)
    : QDialog(parent), m_request(std::move(request)), m_applyToAll(new QCheckBox(QStringLiteral("Apply to all remaining conflicts")))
{
    setObjectName(QStringLiteral("conflictSheet"));
    setWindowTitle(QStringLiteral("Name conflict"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(440);

    auto* icon = new QLabel;
    ChromeIcons::apply(icon, QStringLiteral("doc.on.doc"), 32, QColor(0xff, 0x95, 0x00));
    auto* title = wrappingText(QStringLiteral("\u201C") + m_request.fileName + QStringLiteral("\u201D already exists"),
                               ChromeStyle::headline(font()), false);
    title->setObjectName(QStringLiteral("conflictTitle"));
    auto* where = wrappingText(QStringLiteral("An item with this name is already in \u201C") + m_request.destinationName +
                                   QStringLiteral("\u201D."),
                               ChromeStyle::callout(font()), true);
    where->setObjectName(QStringLiteral("conflictDestination"));
    auto* waiting = wrappingText(QStringLiteral("The next queued transfer is waiting for your choice."),
                                 ChromeStyle::caption(font()), true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(title);
    texts->addWidget(where);
    texts->addWidget(waiting);
    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    m_applyToAll->setObjectName(QStringLiteral("applyToAllBox"));
    m_applyToAll->setFont(ChromeStyle::callout(font()));

    const auto makeButton = [](const QString& title, const QString& name) {
        auto* button = new QPushButton(title);
        button->setObjectName(name);
        button->setAutoDefault(false);
        return button;
    };
    QPushButton* cancel = makeButton(QStringLiteral("Cancel"), QStringLiteral("cancelButton"));
    QPushButton* skip = makeButton(QStringLiteral("Skip"), QStringLiteral("skipButton"));
    QPushButton* keepBoth = makeButton(QStringLiteral("Keep Both"), QStringLiteral("keepBothButton"));
    QPushButton* replace = makeButton(QStringLiteral("Replace"), QStringLiteral("replaceButton"));
    replace->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(skip);
    buttons->addWidget(keepBoth);
    buttons->addWidget(replace);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->addLayout(top);
    // As wide as its text, so that the keyboard's ring goes round the box and its text only.
    column->addWidget(m_applyToAll, 0, Qt::AlignLeft);
    column->addLayout(buttons);
    KeyboardFocusRing::attachToButtons(this);

    connect(cancel, &QPushButton::clicked, this, [this] { answer(std::nullopt); });
    connect(skip, &QPushButton::clicked, this, [this] { answer(ConflictResolution::skip); });
    connect(keepBoth, &QPushButton::clicked, this, [this] { answer(ConflictResolution::keepBoth); });
    connect(replace, &QPushButton::clicked, this, [this] { answer(ConflictResolution::replace); });
}

void ConflictResolutionSheet::reject()
{
    // Escape: the transfer is waiting for an answer, so the sheet stays.
}

void ConflictResolutionSheet::closeEvent(QCloseEvent* event)
{
    if (!m_answered) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ConflictResolutionSheet::answer(std::optional<ConflictResolution> resolution)
{
    if (m_answered) {
        return;
    }
    m_answered = true;
    const bool applyToAll = m_applyToAll->isChecked();
    done(resolution ? Accepted : Rejected);
    if (resolution) {
        Q_EMIT resolved(*resolution, applyToAll);
    } else {
        Q_EMIT cancelRequested();
    }
}

} // namespace quillbarrow
