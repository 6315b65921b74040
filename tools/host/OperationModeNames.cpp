#include "OperationModeNames.h"

#include <iterator>

namespace {

struct Mode
{
    int number;
    const char *shortName;
    const char *longName;
};

const Mode kModes[] = {
    {0, "DAC+", "DAC positive"},
    {1, "DAC-", "DAC negative"},
    {2, "Slope", "VLF CR Slope"},
    {3, "Sinus", "VLF Sinus"},
    {4, "Noise", "Disturbance Level"},
    {5, "CR Test", "VLF CR Test"},
    {6, "Sin AC", "Sinus AC"},
    {7, "Sin Test", "VLF Sinus Withstand"},
    {8, "DAC+ Test", "DAC positive Withstand"},
    {9, "DAC- Test", "DAC negative Withstand"},
    {10, "Sensitivity", "Sensitivity check"},
    {11, "Pinpointing", "Pinpointing"},
};

QString normalised(const QString &text)
{
    QString n = text.toLower();
    n.remove(QLatin1Char(' '));
    n.remove(QLatin1Char('_'));
    return n;
}

const Mode *find(int number)
{
    for (const Mode &m : kModes) {
        if (m.number == number)
            return &m;
    }
    return nullptr;
}

} // namespace

bool OperationModeNames::parse(const QString &text, int *mode)
{
    bool isNumber = false;
    const int number = text.trimmed().toInt(&isNumber, 10);
    if (isNumber) {
        if (!find(number))
            return false;
        *mode = number;
        return true;
    }
    const QString wanted = normalised(text);
    if (wanted.isEmpty())
        return false;
    for (const Mode &m : kModes) {
        if (normalised(QLatin1String(m.shortName)) == wanted || normalised(QLatin1String(m.longName)) == wanted) {
            *mode = m.number;
            return true;
        }
    }
    return false;
}

QString OperationModeNames::shortName(int mode)
{
    const Mode *m = find(mode);
    return m ? QLatin1String(m->shortName) : QString();
}

QString OperationModeNames::longName(int mode)
{
    const Mode *m = find(mode);
    return m ? QLatin1String(m->longName) : QString();
}

QStringList OperationModeNames::table()
{
    QStringList lines;
    for (const Mode &m : kModes) {
        lines.append(QStringLiteral("  %1  %2 %3")
                         .arg(m.number, 2)
                         .arg(QLatin1String(m.shortName), -12)
                         .arg(QLatin1String(m.longName)));
    }
    return lines;
}
