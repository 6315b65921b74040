#pragma once

#include "SimPayloads.h"

#include <QByteArray>
#include <QHash>

struct SimIdentity;

// The detector's parameter memory: one stored payload per (get command,
// instance index) for every set/get family, filled with power-on defaults.
//
// A set is checked against its family's rules (instance index, exact length,
// values the hardware can take); if it passes, the payload is stored as sent
// and echoed back with acknowledge 0, so the next get answers exactly what was
// written. A refused set changes nothing and answers the failing ack with the
// instance byte, so that the host can tell which instance failed.
//
// Payloads the detector computes on each request (identification,
// measurement state, ADC statistics, the info string) are not kept here.
class SimParameterMemory
{
public:
    struct Reply
    {
        quint16 ack = 0;
        QByteArray payload;
    };

    explicit SimParameterMemory(const SimIdentity &identity);

    // Restores every default. Identity feeds the items that repeat it (serial
    // number, device type).
    void resetToDefaults(const SimIdentity &identity);

    // True for the set and get ids of every family kept here.
    bool handles(quint16 command) const;
    Reply handle(quint16 command, const QByteArray &payload);

    // The stored payload, as a get for that instance would answer it; empty
    // for an instance that does not exist.
    QByteArray payload(quint16 getCommand, quint8 index = 0) const;
    // Writes as a set would (same checks), also for the get-only families, so
    // that tests can prepare gain level lists. Returns the ack.
    quint16 setPayload(quint16 getCommand, quint8 index, const QByteArray &payload);

    SimPayloads::Timing timing(int group) const;
    SimPayloads::Trigger trigger(int index) const;
    SimPayloads::Gating gating(int instance) const;
    float gainDb(int gain) const;
    SimPayloads::Muxer muxer() const;
    SimPayloads::DigitalChannel digitalChannel(int channel) const;
    SimPayloads::FanControl fanControl() const;
    double testVoltageCalibration() const;

    // Gain indices of the gain family.
    enum Gain : quint8 {
        GainSystemGating = 0,
        GainUserGating = 1,
        GainTestVoltage = 2,
        GainPd = 3,
        GainPdBandwidth = 4,
        GainPdRemotePower = 5,
        GainClockSource = 6,
        GainSystemGatingBandwidth = 7,
        GainUserGatingBandwidth = 8,
    };
    static constexpr int kGainCount = 9;

    struct Family;

private:
    quint16 store(const Family &family, quint8 index, const QByteArray &payload);
    static quint32 key(quint16 getCommand, quint8 index) { return (quint32(getCommand) << 8) | index; }

    QHash<quint32, QByteArray> m_store;
};
