#pragma once

#include <QString>
#include <QVector>

// Reads the vectors scripts/generate-reference-vectors wrote: '#' lines are
// comments, everything else numbers separated by white space.
class ReferenceData
{
public:
    // All numbers of the file, in order; empty (and a test failure message in
    // *error) if it cannot be read.
    static QVector<double> numbers(const QString &name, QString *error = nullptr);
    // One vector per non-comment line.
    static QVector<QVector<double>> rows(const QString &name, QString *error = nullptr);
    static QVector<float> floats(const QString &name, QString *error = nullptr);
    static QString path(const QString &name);
    // Empty if every actual[i] lies within tolerance of expected[i] (and the
    // counts agree); otherwise where and by how much the first one does not.
    static QString mismatch(const float *actual, int count, const QVector<double> &expected, double tolerance);
    // The largest |expected[i]|, to scale tolerances with.
    static double largest(const QVector<double> &expected);
};
