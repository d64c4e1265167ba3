#include "chrome/NewFolderSheet.h"

#include "chrome/ChromeStyle.h"
#include "chrome/ItemNameRules.h"
#include "chrome/KeyboardFocusRing.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillbarrow {

NewFolderSheet::NewFolderSheet(Side side, QWidget* parent)
    : QDialog(parent), m_side(side), m_name(new QLineEdit), m_create(new QPushButton(QStringLiteral("Create"))),
      m_reason(ItemNameRules::makeReasonLabel())
{
    setObjectName(side == Side::android ? QStringLiteral("androidNewFolderSheet")
                                        : QStringLiteral("localNewFolderSheet"));
    setWindowTitle(QStringLiteral("New Folder"));
    setWindowModality(Qt::WindowModal);

    auto* title = new QLabel(QStringLiteral("New Folder"));
    ChromeStyle::setText(title, ChromeStyle::title3(font()), false);
    m_name->setObjectName(QStringLiteral("folderNameField"));
    m_name->setPlaceholderText(QStringLiteral("Folder name"));
    m_name->setFixedWidth(320);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    m_create->setObjectName(QStringLiteral("createButton"));
    m_create->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_create);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(16);
    column->addWidget(title);
    auto* nameBlock = new QVBoxLayout;
    nameBlock->setSpacing(4);
    nameBlock->addWidget(m_name);
    nameBlock->addWidget(m_reason);
    column->addLayout(nameBlock);
    column->addLayout(buttons);
    KeyboardFocusRing::attachToButtons(this);

    connect(m_name, &QLineEdit::textChanged, this, &NewFolderSheet::updateCreateButton);
    connect(cancel, &QPushButton::clicked, this, &NewFolderSheet::reject);
    connect(m_create, &QPushButton::clicked, this, &NewFolderSheet::create);
    updateCreateButton();
}

void NewFolderSheet::present()
{
    m_name->clear();
    updateCreateButton();
    open();
    m_name->setFocus();
}

void NewFolderSheet::reject()
{
    m_name->clear();
    QDialog::reject();
    Q_EMIT cancelled();
}

void NewFolderSheet::create()
{
    const QString typed = m_name->text();
    if (!ItemNameRules::isAcceptable(typed)) {
        return; // the button is disabled then; a stray Return does nothing either
    }
    // Copied before the field is emptied, so clearing it never changes the request.
    const QString name = m_side == Side::android ? ItemNameRules::trimmed(typed) : typed;
    m_name->clear();
    accept();
    Q_EMIT createRequested(name);
}

void NewFolderSheet::updateCreateButton()
{
    ItemNameRules::showReason(m_reason, m_name->text());
    m_create->setEnabled(ItemNameRules::isAcceptable(m_name->text()));
}

} // namespace quillbarrow
