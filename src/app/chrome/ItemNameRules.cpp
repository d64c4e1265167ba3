#include "chrome/ItemNameRules.h"

#include "chrome/ChromeStyle.h"
#include "domain/ItemNameCheck.h"

#include <QLabel>

namespace quillbarrow {

QString ItemNameRules::trimmed(const QString& typed)
{
    return typed.trimmed();
}

bool ItemNameRules::isAcceptable(const QString& typed)
{
    const QString name = trimmed(typed);
    return !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..") && !name.contains(u'/') &&
           !name.contains(QChar(u'\0'));
}

} // namespace quillbarrow

namespace quillbarrow {

std::optional<QString> ItemNameRules::reason(const QString& typed)
{
    if (typed.isEmpty()) {
        return std::nullopt; // nothing typed yet: the disabled button says enough
    }
    return ItemNameCheck::problem(trimmed(typed));
}

} // namespace quillbarrow

namespace quillbarrow {

QLabel* ItemNameRules::makeReasonLabel()
{
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("nameProblemText"));
    label->setTextFormat(Qt::PlainText);
    label->setFont(ChromeStyle::caption(label->font()));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x2b));
    label->setPalette(palette);
    QSizePolicy policy = label->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    label->setSizePolicy(policy);
    label->hide();
    return label;
}

void ItemNameRules::showReason(QLabel* label, const QString& typed)
{
    const std::optional<QString> problem = reason(typed);
    label->setText(problem.value_or(QString()));
    label->setVisible(problem.has_value());
}

} // namespace quillbarrow
