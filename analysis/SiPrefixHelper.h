#pragma once

#include <QCoreApplication>
#include <QString>

// SI prefixes from atto (index 0) to exa (index 12), index 6 being no prefix.
// A value v in base units is shown as v * factor(index) followed by
// prefix(index): 4.2e-3 V with index 5 is "4.2 mV".
class SiPrefixHelper
{
    Q_DECLARE_TR_FUNCTIONS(SiPrefixHelper)

public:
    static constexpr int kLowest = 0;
    static constexpr int kNone = 6;
    static constexpr int kHighest = 12;

    // 10^18 for atto down to 10^-18 for exa; NaN outside 0 .. 12.
    static double factor(int index);
    // The translated prefix text; "Unknown" (translated) outside 0 .. 12.
    static QString prefix(int index);
    // The index within lowest .. highest for which limit <= value * factor <
    // 1000 * limit, as far as the range allows. 6 for 0 or an empty range; a
    // negative value never reaches the limit and yields lowest; NaN yields the
    // middle of the range. A range reaching outside 0 .. 12 is cut to it.
    static int bestPrefix(double value, double limit = 1.0, int lowest = kLowest, int highest = kHighest);
    // value scaled by its best prefix, written with the given decimals, a space,
    // the prefix and the unit: format(1e-10, "C") is "100 pC".
    static QString format(double value, const QString &unit, int decimals = 0, int lowest = kLowest,
                          int highest = kHighest);
};
