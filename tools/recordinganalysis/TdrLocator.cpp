#include "TdrLocator.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const int m = values.size() / 2;
    return values.size() % 2 ? values.at(m) : 0.5 * (values.at(m - 1) + values.at(m));
}

} // namespace

TdrLocator::TdrLocator(double cableLengthMetres, double velocityMetresPerSecond)
    : m_length(cableLengthMetres)
    , m_velocity(velocityMetresPerSecond)
{
}

QVector<TdrLocator::Located> TdrLocator::locate(const QVector<PdPulseDetector::Pulse> &pulses) const
{
    QVector<Located> located;
    if (!(m_length > 0) || !(m_velocity > 0))
        return located;
    // A little beyond the round trip: a site at the near end echoes after
    // exactly the round trip, and the times carry sampling jitter.
    const double window = roundTripSeconds() * 1.02;
    QVector<bool> used(pulses.size(), false);
    for (int i = 0; i < pulses.size(); ++i) {
        if (used.at(i))
            continue;
        used[i] = true;
        Located entry;
        entry.direct = pulses.at(i);
        int echo = -1;
        for (int j = i + 1; j < pulses.size() && pulses.at(j).time - entry.direct.time <= window; ++j) {
            const bool samePolarity = (pulses.at(j).peak > 0) == (entry.direct.peak > 0);
            if (!used.at(j) && samePolarity && (echo < 0 || std::fabs(pulses.at(j).peak) > std::fabs(pulses.at(echo).peak)))
                echo = j;
        }
        if (echo >= 0) {
            used[echo] = true;
            entry.hasEcho = true;
            entry.echo = pulses.at(echo);
            const double dt = entry.echo.time - entry.direct.time;
            entry.position = qBound(0.0, m_length - m_velocity * dt / 2.0, m_length);
        }
        located.append(entry);
    }
    return located;
}

QVector<TdrLocator::Site> TdrLocator::cluster(const QVector<double> &positions, const QVector<double> &charges,
                                              double gapMetres)
{
    QVector<int> order(positions.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return positions.at(a) < positions.at(b); });
    QVector<Site> sites;
    for (int k = 0; k < order.size(); ++k) {
        if (k == 0 || positions.at(order.at(k)) - positions.at(order.at(k - 1)) > gapMetres)
            sites.append(Site());
        sites.last().members.append(order.at(k));
    }
    for (Site &site : sites) {
        QVector<double> where, magnitudes;
        for (int index : site.members) {
            where.append(positions.at(index));
            magnitudes.append(std::fabs(charges.value(index)));
        }
        site.position = median(where);
        site.count = site.members.size();
        site.medianCharge = median(magnitudes);
        site.largestCharge = *std::max_element(magnitudes.begin(), magnitudes.end());
    }
    return sites;
}
