#include "MinMaxDecimation.h"

#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const float kInf = std::numeric_limits<float>::infinity();

// Column c holds samples [c n / count, (c + 1) n / count): every sample lands
// in exactly one column, also when n is not a multiple.
int columnBegin(int c, int n, int count)
{
    return int(qint64(c) * n / count);
}

// Smallest and largest number in [begin, end). A comparison with NaN is
// false, so NaN samples never replace a bound; a range without any number
// leaves lowest > highest.
template<typename T>
void scanScalar(const T *samples, int begin, int end, float &lowest, float &highest)
{
    for (int i = begin; i < end; ++i) {
        const float v = float(samples[i]);
        lowest = v < lowest ? v : lowest;
        highest = v > highest ? v : highest;
    }
}

void scan(const float *samples, int begin, int end, float &lowest, float &highest)
{
#if defined(__SSE2__)
    // Four independent bounds of four lanes each: the min/max latency does
    // not serialise the loop, which then runs at the speed memory feeds it.
    // minps(a, b) returns b when either is NaN: with the sample first, a NaN
    // sample leaves the bound as it was.
    if (end - begin >= 16) {
        __m128 lo[4], hi[4];
        for (int k = 0; k < 4; ++k) {
            lo[k] = _mm_set1_ps(lowest);
            hi[k] = _mm_set1_ps(highest);
        }
        int i = begin;
        for (; end - i >= 16; i += 16) {
            for (int k = 0; k < 4; ++k) {
                const __m128 v = _mm_loadu_ps(samples + i + 4 * k);
                lo[k] = _mm_min_ps(v, lo[k]);
                hi[k] = _mm_max_ps(v, hi[k]);
            }
        }
        // The bounds hold no NaN, so the order of the reduction is free.
        __m128 l = _mm_min_ps(_mm_min_ps(lo[0], lo[1]), _mm_min_ps(lo[2], lo[3]));
        __m128 h = _mm_max_ps(_mm_max_ps(hi[0], hi[1]), _mm_max_ps(hi[2], hi[3]));
        l = _mm_min_ps(l, _mm_shuffle_ps(l, l, _MM_SHUFFLE(1, 0, 3, 2)));
        h = _mm_max_ps(h, _mm_shuffle_ps(h, h, _MM_SHUFFLE(1, 0, 3, 2)));
        l = _mm_min_ss(l, _mm_shuffle_ps(l, l, _MM_SHUFFLE(2, 3, 0, 1)));
        h = _mm_max_ss(h, _mm_shuffle_ps(h, h, _MM_SHUFFLE(2, 3, 0, 1)));
        lowest = _mm_cvtss_f32(l);
        highest = _mm_cvtss_f32(h);
        begin = i;
    }
#endif
    scanScalar(samples, begin, end, lowest, highest);
}

void scan(const quint8 *samples, int begin, int end, float &lowest, float &highest)
{
    scanScalar(samples, begin, end, lowest, highest);
}

template<typename T>
QVector<MinMaxDecimation::Column> reduce(const T *samples, int n, int columns)
{
    QVector<MinMaxDecimation::Column> out;
    if (!samples || n <= 0 || columns <= 0)
        return out;
    const int count = qMin(n, columns);
    out.resize(count);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int c = 0; c < count; ++c) {
        float lowest = kInf, highest = -kInf;
        scan(samples, columnBegin(c, n, count), columnBegin(c + 1, n, count), lowest, highest);
        out[c] = lowest > highest ? MinMaxDecimation::Column{nan, nan} : MinMaxDecimation::Column{lowest, highest};
    }
    return out;
}

} // namespace

QVector<MinMaxDecimation::Column> MinMaxDecimation::columns(const float *samples, int n, int columns)
{
    return reduce(samples, n, columns);
}

QVector<MinMaxDecimation::Column> MinMaxDecimation::columns(const quint8 *samples, int n, int columns)
{
    return reduce(samples, n, columns);
}

double MinMaxDecimation::columnX(int c, int n, int count, double x0, double dx)
{
    return x0 + dx * 0.5 * (columnBegin(c, n, count) + columnBegin(c + 1, n, count) - 1);
}

QPolygonF MinMaxDecimation::polyline(const QVector<Column> &columns, int n, double x0, double dx)
{
    QPolygonF points;
    points.reserve(2 * columns.size());
    const int count = columns.size();
    for (int c = 0; c < count; ++c) {
        const Column &column = columns.at(c);
        if (std::isnan(column.minimum))
            continue;
        const double x = columnX(c, n, count, x0, dx);
        points.append(QPointF(x, column.minimum));
        if (column.maximum != column.minimum)
            points.append(QPointF(x, column.maximum));
    }
    return points;
}

QPolygonF MinMaxDecimation::polyline(const float *samples, int n, double x0, double dx, int columns)
{
    return polyline(MinMaxDecimation::columns(samples, n, columns), n, x0, dx);
}

QPolygonF MinMaxDecimation::polyline(const quint8 *samples, int n, double x0, double dx, int columns)
{
    return polyline(MinMaxDecimation::columns(samples, n, columns), n, x0, dx);
}
