#pragma once

#include "SimPayloads.h"
#include "SimScenario.h"

class SimParameterMemory;

// Turns a scenario into ADC samples as the detector's front end would digitise
// them with the settings in force: gains, bandwidth, ADC inversion, gating,
// digital input conditioning and the muxer routing.
//
// Every value is a pure function of device time (noise included, drawn from a
// fixed table by a hash of the sample index), so a frame comes out the same
// however it is cut into packets, and a test can recompute what it received.
//
// Scale: analog samples are full scale +-1 at the ADC. A source's value at the
// ADC is its input-referred value times 10^(gain/20), the gain being the one
// the packet header reports, so gain compensation on the host gives back the
// input-referred value. Input-referred units: PD and charge channels 0.39 per
// nC (1.41 per nC with the wide PD bandwidth), test voltage volts divided by
// the calibration factor, gating inputs as given by the scenario.
class SimSignalModel
{
public:
    // The settings a frame is taken with, captured when it is recorded.
    struct FrontEnd
    {
        qint16 gainCode[9] = {}; // per gain index, 1/256 dB, as the packet header carries it
        bool wideBand = false;
        double calibration = 2640.0;
        bool invert[4] = {};
        SimPayloads::Gating gating[8];
        SimPayloads::DigitalChannel digital[8];
        SimPayloads::Muxer muxer;
    };
    static FrontEnd frontEndFrom(const SimParameterMemory &memory);

    // Muxer sources, as selected by the muxer channel parameters.
    enum Source : quint8 {
        PdRaw = 0,
        UserGatingRaw = 1,
        SystemGatingRaw = 2,
        TestVoltageRaw = 3,
        PdFiltered = 4,
        UserGatingFiltered = 5,
        SystemGatingFiltered = 6,
        Charge0 = 7, // 7 to 9 charge, 10 to 12 charge peak, 13 to 15 charge with gating
    };
    // Trigger sources beyond the muxer sources.
    enum TriggerSource : quint32 {
        TriggerDigitalGating0 = 64,
        TriggerDigitalGating1 = 65,
        TriggerExternal0 = 66,
        TriggerExternal1 = 67,
        TriggerSoftware = 68,
    };

    static constexpr double kNarrowBandVoltsPerNc = 0.39;
    static constexpr double kWideBandVoltsPerNc = 1.41;
    static constexpr double kInputNoise = 2e-5; // input-referred, rms
    static constexpr double kFastAdcNoise = 3e-4; // 16-bit 125 MHz ADC, at the ADC, rms (10 LSB)
    static constexpr double kSlowAdcNoise = 2e-5; // 24-bit channels, at the ADC, rms
    static constexpr qint64 kChargeDecayNs = 20000;
    static constexpr double kUserGatingCoupling = 0.25; // user gating input against the system one
    static constexpr double kCrosstalk[3] = {1.0, 0.1, 0.05}; // charge phase 0, 1, 2

    SimSignalModel(const SimScenario &scenario, const FrontEnd &frontEnd);

    // Sample period of a group: 8 ns (125 MHz) muxer, 10 us test voltage, 5 us charges.
    static qint64 samplePeriodNs(int group);
    // Raw packet layout byte of the muxer group: 0 one 16-bit channel, 1 two 8-bit channels.
    quint8 muxerLayout() const { return m_frontEnd.muxer.dualChannel ? 1 : 0; }
    // Gain A (slot 0) and B (slot 1) of a group's packets.
    qint16 gainCode(int group, int slot) const;
    // Bytes per sample in a packet: 2 for the muxer (either layout), 4 otherwise.
    static int sampleBytes(int group) { return group == 0 ? 2 : 4; }

    // n samples of a group from device time startNs, little-endian, into dst
    // (sampleBytes(group) * n bytes).
    void fill(int group, qint64 startNs, int n, char *dst) const;

    // Time of the first event of a trigger source in [fromNs, toNs) whose value
    // at the ADC exceeds level; -1 if there is none. Windows longer than the
    // scenario's cycle are cut to one cycle: what does not fire within a cycle
    // never fires.
    qint64 nextTrigger(quint32 source, float level, qint64 fromNs, qint64 toNs) const;

    struct Statistics
    {
        float minimum = 0, maximum = 0, mean = 0, rms = 0;
    };
    // Of the PD ADC (raw PD source) over n samples from startNs.
    Statistics pdStatistics(qint64 startNs, int n) const;

    // Value at the ADC, before quantisation, of a muxer source over n samples
    // spaced dtNs apart.
    void synthesise(int source, qint64 startNs, qint64 dtNs, int n, float *out) const;

private:
    double gainLinear(int gainIndex) const;
    int gainOfSource(int source) const;
    int adcOfSource(int source) const;
    double voltsPerNc() const;
    // Value at the ADC of a unit disturbance on the user or system gating input.
    double gatingScale(bool user) const;
    void addPd(qint64 startNs, qint64 dtNs, int n, double scale, float *out) const;
    void addCharge(int phase, qint64 startNs, qint64 dtNs, int n, double scale, float *out) const;
    void addDisturbances(qint64 startNs, qint64 dtNs, int n, double scale, float *out) const;
    void fillMuxer(qint64 startNs, int n, char *dst) const;
    void fillWords(int group, qint64 startNs, int n, char *dst) const;
    void flagBits(int group, qint64 startNs, qint64 dtNs, int n, quint8 *bits) const;

    struct Window
    {
        qint64 begin;
        qint64 end;
    };
    // When an input or a gate is active, within [fromNs, toNs).
    QVector<Window> digitalInput(int input, bool filtered, qint64 fromNs, qint64 toNs) const;
    QVector<Window> gatingWindows(int instance, qint64 fromNs, qint64 toNs) const;
    QVector<Window> overflowWindows(int adc, qint64 fromNs, qint64 toNs) const;

    SimScenario m_scenario;
    FrontEnd m_frontEnd;
};
