#pragma once

#include "SimTestObject.h"

#include <QString>
#include <QStringList>
#include <QVector>

// What happens on the high-voltage side while the detector watches: the test
// voltage, the partial discharges and the switching disturbances of one test
// set-up, as functions of device time (nanoseconds since the detector started).
//
// Every scenario repeats with a fixed cycle, so that a test knows where each
// event lies from the device time alone. The numbers are the true values the
// plug-in's analysis is checked against; docs/SIMULATOR.md lists them.
class SimScenario
{
public:
    enum Kind {
        DampedAc,          // DAC: one shot per second, 50 Hz, 20 /s, 20 kV
        CosineRectangular, // VLF CR 0.1 Hz: reversals every 5 s through a 50 Hz half cosine
        VlfSine,           // VLF sine 0.1 Hz, 20 kV
        Noise,             // no high voltage: background noise and interference spikes
    };

    // A discharge as the sensor at the near end sees it: the direct pulse
    // arrives at timeNs, its echo from the far end echoDelayNs later.
    struct Pulse
    {
        qint64 timeNs = 0;
        double chargeNc = 0; // apparent charge, signed
        qint64 echoDelayNs = 0;
    };

    struct Disturbance
    {
        qint64 timeNs = 0;
        qint64 durationNs = 0;
        double amplitude = 0; // at the gating input, full scale = 1
    };

    explicit SimScenario(Kind kind = DampedAc, const SimTestObject &testObject = SimTestObject());

    Kind kind() const { return m_kind; }
    const SimTestObject &testObject() const { return m_testObject; }
    // The voltage steps count from the cycle holding this time (the start of
    // an acquisition).
    void setStepOrigin(qint64 timeNs);
    // Amplitude of the test voltage in the cycle holding timeNs, volts.
    double cycleVoltage(qint64 timeNs) const;
    double highestVoltage() const;
    static QString name(Kind kind);
    static bool fromName(const QString &name, Kind *kind);
    static QStringList names();

    qint64 cycleNs() const;
    // Test voltage in volts.
    double testVoltage(qint64 timeNs) const;
    // Events that start (pulses: whose direct pulse arrives) in [fromNs, toNs),
    // in time order, appended to out.
    void pulses(qint64 fromNs, qint64 toNs, QVector<Pulse> *out) const;
    void disturbances(qint64 fromNs, qint64 toNs, QVector<Disturbance> *out) const;
    // The HV source's trigger output (DAC shot, CR reversal, VLF positive zero
    // crossing) at or after atNs; -1 when the source never fires.
    qint64 nextShot(qint64 atNs) const;

    // True values, shared with the documentation and the tests.
    static constexpr double kAmplitudeVolts = 20000.0;
    static constexpr double kDacFrequencyHz = 50.0;
    static constexpr double kDacAttenuationPerSecond = 20.0;
    static constexpr double kReversalFrequencyHz = 50.0; // the half cosine of a CR reversal
    static constexpr double kVlfFrequencyHz = 0.1;
    // The echo has travelled the cable to the far end and back: lower (and,
    // in the signal model, wider) than the direct pulse.
    static constexpr double kEchoRatio = 0.6;
    // The round trip of the cable, the longest echo delay it gives.
    qint64 longestEchoNs() const;
    // Longest round trip the simulator accepts for a cable.
    static constexpr qint64 kLongestEchoNs = 1000000;

private:
    struct Event
    {
        qint64 offsetNs;
        double value;
        qint64 durationNs;
    };
    // Events of one cycle, by offset from the cycle's start.
    const QVector<Event> &pulseTable() const;
    const QVector<Event> &disturbanceTable() const;
    const QVector<qint64> &shotTable() const;
    template<typename Out, typename Make>
    void collect(const QVector<Event> &table, qint64 fromNs, qint64 toNs, QVector<Out> *out, Make make) const;

    qint64 amplitudeCycle(qint64 cycle) const;

    Kind m_kind;
    SimTestObject m_testObject;
    qint64 m_originCycle = 0;
};
