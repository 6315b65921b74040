#pragma once

#include "PdPulseDetector.h"

#include <QVector>

// Time-domain reflectometry on a cable with the sensor at the near end: a
// discharge at x reaches the sensor directly after x / v and, by way of the
// far end, after (2L - x) / v, so the echo trails the direct pulse by
// dt = 2 (L - x) / v and x = L - v dt / 2.
//
// In a record the first pulse not yet explained is a direct pulse; its echo
// is the largest later pulse of the same polarity within the cable's round
// trip. Located pulses are then grouped into sites by position.
class TdrLocator
{
public:
    struct Located
    {
        PdPulseDetector::Pulse direct;
        bool hasEcho = false;
        PdPulseDetector::Pulse echo;
        double position = 0; // m from the near end; valid with an echo
    };

    struct Site
    {
        double position = 0; // median of its pulses, m
        int count = 0;
        double medianCharge = 0; // C, of |charge|
        double largestCharge = 0;
        QVector<int> members;    // indices into the located pulses given to cluster()
    };

    TdrLocator(double cableLengthMetres, double velocityMetresPerSecond);

    // Pulses of one record in time order.
    QVector<Located> locate(const QVector<PdPulseDetector::Pulse> &pulses) const;
    // Sites from positions (m) and charges (C) of located pulses: sorted
    // positions split where neighbours lie further apart than the gap.
    static QVector<Site> cluster(const QVector<double> &positions, const QVector<double> &charges, double gapMetres);

    double roundTripSeconds() const { return 2.0 * m_length / m_velocity; }

private:
    double m_length;
    double m_velocity;
};
