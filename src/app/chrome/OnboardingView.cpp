#include "chrome/OnboardingView.h"

#include "chrome/ChromeIcons.h"
#include "chrome/ChromeStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillbarrow {

OnboardingView::OnboardingView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("onboardingView"));
    const QColor secondary = ChromeStyle::secondaryText(palette());

    auto* symbol = new QLabel;
    symbol->setObjectName(QStringLiteral("onboardingSymbol"));
    ChromeIcons::apply(symbol, QStringLiteral("cable.connector"), 48, secondary);
    auto* title = new QLabel(QStringLiteral("Connect an Android device"));
    title->setObjectName(QStringLiteral("onboardingTitle"));
    ChromeStyle::setText(title, ChromeStyle::title2(font()), false);

    auto* hints = new QVBoxLayout;
    hints->setSpacing(8);
    const std::pair<const char*, const char*> rows[] = {
        {"Unlock the phone or tablet", "lock.open"},
        {"Choose File Transfer / MTP in USB preferences", "folder"},
        {"Allow access on the device when prompted", "checkmark.shield"},
        {"Try another cable or port if it does not appear", "cable.connector"},
    };
    for (const auto& [text, symbolName] : rows) {
        auto* icon = new QLabel;
        ChromeIcons::apply(icon, QString::fromLatin1(symbolName), 16, secondary);
        auto* label = new QLabel(QString::fromUtf8(text));
        ChromeStyle::setText(label, font(), true);
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        row->addWidget(icon);
        row->addWidget(label, 1);
        hints->addLayout(row);
    }

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);
    column->addStretch(1);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addWidget(title, 0, Qt::AlignHCenter);
    column->addLayout(hints);
    column->setAlignment(hints, Qt::AlignHCenter);
    column->addStretch(1);
}

} // namespace quillbarrow
