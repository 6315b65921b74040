#pragma once

#include <QString>
#include <QVector>

// The cable under test and the HV source's programme: where along the cable
// partial discharges sit, how large they are, from which voltage they fire,
// and the voltage of each cycle. The defaults give one site at the near end
// that fires at every voltage (the scenario's own discharges) on a 960 m cable
// at 160 m/us, at the scenario's 20 kV throughout.
struct SimPdSite
{
    double positionMetres = 0.0; // from the near end, where the sensor sits
    double chargeNc = 1.0;       // apparent charge of one discharge
    double inceptionVolts = 0.0; // fires in cycles whose voltage is at least this
};

struct SimTestObject
{
    double cableLengthMetres = 960.0;
    double velocityMetresPerMicrosecond = 160.0;
    QVector<SimPdSite> sites{SimPdSite()};
    // One voltage per scenario cycle, counted from the cycle in which the
    // acquisition started, repeated after the last; empty: 20 kV throughout.
    QVector<double> voltageStepsVolts;

    // "METRES:CHARGE_NC[:INCEPTION_KV][,...]"; false with error set on a bad
    // entry or a site off the cable (checked against cableLengthMetres).
    bool parseSites(const QString &text, QString *error);
    // "KV,KV,...", each above 0 and at most 1000 kV.
    bool parseVoltageSteps(const QString &text, QString *error);
};
