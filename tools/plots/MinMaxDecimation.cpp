#include "MinMaxDecimation.h"

#include <cmath>
#include <limits>

QVector<MinMaxDecimation::Column> MinMaxDecimation::columns(const float *samples, int n, int columns)
{
    QVector<Column> out;
    if (!samples || n <= 0 || columns <= 0)
        return out;
    const int count = qMin(n, columns);
    out.resize(count);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int c = 0; c < count; ++c) {
        // Column c holds samples [c n / count, (c + 1) n / count): every sample
        // lands in exactly one column, also when n is not a multiple.
        const int begin = int(qint64(c) * n / count);
        const int end = int(qint64(c + 1) * n / count);
        float lowest = nan, highest = nan;
        for (int i = begin; i < end; ++i) {
            const float v = samples[i];
            if (std::isnan(v))
                continue;
            if (std::isnan(lowest) || v < lowest)
                lowest = v;
            if (std::isnan(highest) || v > highest)
                highest = v;
        }
        out[c] = Column{lowest, highest};
    }
    return out;
}

QPolygonF MinMaxDecimation::polyline(const float *samples, int n, double x0, double dx, int columns)
{
    const QVector<Column> reduced = MinMaxDecimation::columns(samples, n, columns);
    QPolygonF line;
    line.reserve(2 * reduced.size());
    const int count = reduced.size();
    for (int c = 0; c < count; ++c) {
        const Column &column = reduced.at(c);
        if (std::isnan(column.minimum))
            continue;
        const double begin = double(qint64(c) * n / count);
        const double end = double(qint64(c + 1) * n / count);
        const double x = x0 + dx * 0.5 * (begin + end - 1);
        line.append(QPointF(x, column.minimum));
        if (column.maximum != column.minimum)
            line.append(QPointF(x, column.maximum));
    }
    return line;
}
