#include "Samples.h"

#include <QStringList>
#include <algorithm>

namespace quillbarrow {

void Samples::add(double value)
{
    m_values.append(value);
}

double Samples::median() const
{
    if (m_values.isEmpty()) {
        return 0;
    }
    QList<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted.at(middle) : (sorted.at(middle - 1) + sorted.at(middle)) / 2;
}

QString Samples::listed(int decimals) const
{
    QStringList texts;
    for (const double value : m_values) {
        texts.append(QString::number(value, 'f', decimals));
    }
    return texts.join(QLatin1Char(' '));
}

} // namespace quillbarrow
