#pragma once

#include <QString>

class RecordingReader;

// Propagation velocity and charge factor from a calibration recording: a
// calibrator at the near end injects pulses of a known charge (the
// recording's nominal charge); each returns from the far end after the round
// trip T, so v = 2 L / T, and its peak over the charge is the factor from
// charge to the PD channel's volts.
class TdrCalibration
{
public:
    struct Result
    {
        bool ok = false;
        QString error;
        int pulses = 0;          // calibration pulses with an echo
        double roundTrip = 0;    // s, median
        double velocity = 0;     // m/s
        double nominalCharge = 0; // C, from the recording; 0 if it has none
        double chargeFactor = 0; // V/C; 0 without a nominal charge
    };

    static Result fromRecording(const RecordingReader &reader, double cableLengthMetres);

    // The slowest cable the echo is looked for on (m/s): the echo must come
    // within 2 L over this.
    static constexpr double kSlowestVelocity = 10e6;
};
