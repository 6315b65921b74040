#include "SiPrefixHelper.h"

#include <cmath>
#include <limits>

namespace {

struct Prefix
{
    struct
    {
        const char *source;
        const char *comment;
    } text;
    double factor;
};

// Index 4 is filled in from UTF-8 in prefix(): the micro sign is not translated.
const Prefix kPrefixes[] = {
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "a", "Abb. for atto"), 1e18},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "f", "Abb. for femto"), 1e15},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "p", "Abb. for pico"), 1e12},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "n", "Abb. for nano"), 1e9},
    {{nullptr, nullptr}, 1e6},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "m", "Abb. for milli"), 1e3},
    {{"", nullptr}, 1.0},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "k", "Abb. for kilo"), 1e-3},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "M", "Abb. for mega"), 1e-6},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "G", "Abb. for giga"), 1e-9},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "T", "Abb. for tera"), 1e-12},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "P", "Abb. for peta"), 1e-15},
    {QT_TRANSLATE_NOOP3("SiPrefixHelper", "E", "Abb. for exa"), 1e-18},
};
static_assert(sizeof kPrefixes / sizeof kPrefixes[0] == SiPrefixHelper::kHighest + 1, "one row per index");

bool known(int index)
{
    return index >= SiPrefixHelper::kLowest && index <= SiPrefixHelper::kHighest;
}

} // namespace

double SiPrefixHelper::factor(int index)
{
    return known(index) ? kPrefixes[index].factor : std::numeric_limits<double>::quiet_NaN();
}

QString SiPrefixHelper::prefix(int index)
{
    if (!known(index))
        return tr("Unknown");
    if (index == 4)
        return QString::fromUtf8("\xc2\xb5");
    if (index == kNone)
        return QString();
    return tr(kPrefixes[index].text.source, kPrefixes[index].text.comment);
}

int SiPrefixHelper::bestPrefix(double value, double limit, int lowest, int highest)
{
    // A range reaching outside the table is cut to it.
    lowest = qMax(lowest, kLowest);
    highest = qMin(highest, kHighest);
    if (value == 0.0 || lowest > highest)
        return kNone;
    int i = (lowest + highest) / 2;
    double scaled = value * factor(i);
    if (scaled >= 1000.0 * limit) {
        while (i < highest) {
            ++i;
            scaled = value * factor(i);
            if (scaled < 1000.0 * limit)
                break;
        }
        return i;
    }
    while (i > lowest && scaled < limit) {
        --i;
        scaled = value * factor(i);
    }
    return i;
}

QString SiPrefixHelper::format(double value, const QString &unit, int decimals, int lowest, int highest)
{
    const int index = bestPrefix(value, 1.0, lowest, highest);
    return QStringLiteral("%1 %2%3").arg(QString::number(value * factor(index), 'f', decimals), prefix(index), unit);
}
