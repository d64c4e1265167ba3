#pragma once

#include <QList>
#include <QString>

namespace quillbarrow {

// Repeated measurements of one quantity (seconds, bytes ...); figures are medians.
class Samples {
public:
    void add(double value);
    bool isEmpty() const { return m_values.isEmpty(); }
    qsizetype count() const { return m_values.size(); }
    // The middle value (the mean of the two middle ones for an even count); 0 when empty.
    double median() const;
    // Every value in the order measured, e.g. "2.31 2.29 2.40", for the detail lines.
    QString listed(int decimals) const;

private:
    QList<double> m_values;
};

} // namespace quillbarrow
