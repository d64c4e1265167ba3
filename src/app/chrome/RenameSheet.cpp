#include "chrome/RenameSheet.h"

#include "chrome/ChromeStyle.h"
#include "chrome/ItemNameRules.h"
#include "chrome/KeyboardFocusRing.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillbarrow {

RenameSheet::RenameSheet(QWidget* parent)
    : QDialog(parent), m_current(new QLabel), m_value(new QLineEdit), m_rename(new QPushButton(QStringLiteral("Rename"))),
      m_reason(ItemNameRules::makeReasonLabel())
{
    setObjectName(QStringLiteral("renameSheet"));
    setWindowTitle(QStringLiteral("Rename"));
    setWindowModality(Qt::WindowModal);

    auto* title = new QLabel(QStringLiteral("Rename"));
    ChromeStyle::setText(title, ChromeStyle::title3(font()), false);
    m_current->setObjectName(QStringLiteral("currentNameText"));
    m_current->setTextFormat(Qt::PlainText); // a name that looks like markup is shown as it is
    ChromeStyle::setText(m_current, ChromeStyle::caption(font()), true);
    m_value->setObjectName(QStringLiteral("newNameField"));
    m_value->setPlaceholderText(QStringLiteral("New name"));
    m_value->setFixedWidth(360);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    m_rename->setObjectName(QStringLiteral("renameButton"));
    m_rename->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_rename);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(16);
    column->addWidget(title);
    column->addWidget(m_current);
    auto* nameBlock = new QVBoxLayout;
    nameBlock->setSpacing(4);
    nameBlock->addWidget(m_value);
    nameBlock->addWidget(m_reason);
    column->addLayout(nameBlock);
    column->addLayout(buttons);
    KeyboardFocusRing::attachToButtons(this);

    connect(m_value, &QLineEdit::textChanged, this, &RenameSheet::updateRenameButton);
    connect(cancel, &QPushButton::clicked, this, &RenameSheet::reject);
    connect(m_rename, &QPushButton::clicked, this, &RenameSheet::commit);
}

void RenameSheet::present(const QString& currentName)
{
    m_currentName = currentName;
    m_current->setText(QStringLiteral("Current name: ") + currentName);
    m_value->setText(currentName);
    updateRenameButton();
    open();
    m_value->setFocus();
    m_value->selectAll();
}

void RenameSheet::reject()
{
    QDialog::reject();
    Q_EMIT cancelled();
}

void RenameSheet::commit()
{
    if (!ItemNameRules::isAcceptable(m_value->text())) {
        return;
    }
    const QString name = ItemNameRules::trimmed(m_value->text());
    const bool changed = name != m_currentName;
    accept();
    if (changed) {
        Q_EMIT renameRequested(name);
    }
}

void RenameSheet::updateRenameButton()
{
    ItemNameRules::showReason(m_reason, m_value->text());
    m_rename->setEnabled(ItemNameRules::isAcceptable(m_value->text()));
}

} // namespace quillbarrow
