#include "ReferenceData.h"

#include <QFile>
#include <QTextStream>

#include <cmath>

QVector<QVector<double>> ReferenceData::rows(const QString &name)
{
    QFile file(QStringLiteral(DRAVIK_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot read %s: %s", qPrintable(file.fileName()), qPrintable(file.errorString()));
    QVector<QVector<double>> result;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        QVector<double> row;
        for (const QString &field : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            bool ok = false;
            row.append(field.toDouble(&ok));
            if (!ok)
                qFatal("%s: not a number: %s", qPrintable(name), qPrintable(field));
        }
        result.append(row);
    }
    return result;
}

QVector<double> ReferenceData::numbers(const QString &name)
{
    QVector<double> all;
    for (const QVector<double> &row : rows(name))
        all += row;
    return all;
}

QVector<float> ReferenceData::floats(const QString &name)
{
    QVector<float> result;
    for (double v : numbers(name))
        result.append(static_cast<float>(v));
    return result;
}

QString ReferenceData::mismatch(const float *actual, int count, const QVector<double> &expected, double tolerance)
{
    if (count != expected.size())
        return QStringLiteral("%1 values, expected %2").arg(count).arg(expected.size());
    for (int i = 0; i < count; ++i) {
        const double deviation = std::fabs(actual[i] - expected[i]);
        if (!(deviation <= tolerance))
            return QStringLiteral("index %1: %2, expected %3 (off by %4, tolerance %5)")
                .arg(i)
                .arg(actual[i], 0, 'g', 9)
                .arg(expected[i], 0, 'g', 12)
                .arg(deviation, 0, 'g', 3)
                .arg(tolerance, 0, 'g', 3);
    }
    return QString();
}

double ReferenceData::largest(const QVector<double> &expected)
{
    double result = 0.0;
    for (double v : expected)
        result = std::max(result, std::fabs(v));
    return result;
}
