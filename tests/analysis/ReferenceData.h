#pragma once

#include <QString>
#include <QTest>
#include <QVector>

// Reads the vectors scripts/generate-reference-vectors wrote: '#' lines are
// comments, everything else numbers separated by white space. A file that
// cannot be read ends the run: the committed vectors are part of the build.
namespace ReferenceData {
// One vector per non-comment line.
QVector<QVector<double>> rows(const QString &name);
// All numbers of the file, in order.
QVector<double> numbers(const QString &name);
QVector<float> floats(const QString &name);
// Empty if every actual[i] lies within tolerance of expected[i] (and the
// counts agree); otherwise where and by how much the first one does not.
QString mismatch(const float *actual, int count, const QVector<double> &expected, double tolerance);
// The largest |expected[i]|, to scale tolerances with.
double largest(const QVector<double> &expected);
} // namespace ReferenceData

#define VERIFY_NEAR(actual, count, expected, tolerance)                                                                \
    do {                                                                                                               \
        const QString mismatch_ = ReferenceData::mismatch(actual, count, expected, tolerance);                         \
        QVERIFY2(mismatch_.isEmpty(), qPrintable(mismatch_));                                                          \
    } while (false)
