#pragma once

#include <QPolygonF>
#include <QVector>

// Reduces a long record to what a plot can show: for each pixel column the
// smallest and the largest sample that fall into it, so that a 6 M-sample PD
// record drawn 800 pixels wide keeps every pulse (a plain stride would step
// over most of them). The live view and the report draw their signals
// through it.
class MinMaxDecimation
{
public:
    struct Column
    {
        float minimum = 0;
        float maximum = 0;
    };

    // columns pairs of (min, max) over n samples; n samples when n <= columns
    // (each sample its own column, min = max). NaN samples are skipped; a
    // column without any number holds NaN. Runs at about the speed memory
    // delivers the samples (bench/bench_plots.cpp): the live view decimates
    // every chunk it draws on the GUI thread.
    static QVector<Column> columns(const float *samples, int n, int columns);
    // The same for binary channels, one byte (0 or 1) per sample.
    static QVector<Column> columns(const quint8 *samples, int n, int columns);

    // The columns as a polyline for a curve: x runs from x0 in steps of dx per
    // sample, each column gives its minimum and its maximum at the column's
    // centre, so the line sweeps the envelope.
    static QPolygonF polyline(const float *samples, int n, double x0, double dx, int columns);
    static QPolygonF polyline(const quint8 *samples, int n, double x0, double dx, int columns);
    // The same from columns already reduced from n samples.
    static QPolygonF polyline(const QVector<Column> &columns, int n, double x0, double dx);
    // The x of column c's centre, for columns reduced from n samples.
    static double columnX(int c, int n, int count, double x0, double dx);
};
