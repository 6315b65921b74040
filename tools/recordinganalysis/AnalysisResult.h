#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include <limits>

// Everything the analysis of one recording found; the report's PDF and JSON
// are made from it alone. NaN stands for "not measured".
struct AnalysisResult
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    struct Shot
    {
        int measurement = 0;
        double time = kNaN; // s, device time of the shot (trigger, or start of the record)
        bool hasVoltage = false;
        // The plug-in's own analyser run on the record.
        double pluginFrequency = kNaN;
        double pluginAttenuation = kNaN;
        double pluginAmplitude = kNaN;
        // The least-squares fit of a damped cosine.
        bool fitted = false;
        QString fitError;
        double fitFrequency = kNaN;
        double fitAttenuation = kNaN;
        double fitAmplitude = kNaN;
        double fitPhase = kNaN; // rad, at the start of the fit window
        double fitOffset = kNaN;
        double fitRms = kNaN;
        int fitIterations = 0;
        double fitStart = kNaN; // s, device time of the first sample fitted
        // Headline values: from the fit when there is one, else the plug-in's.
        double voltage = kNaN;   // peak voltage of the shot, V
        double tanDelta = kNaN;  // delta / (pi f)
        double pluginTanDelta = kNaN;
        int pulses = 0;
        double largestCharge = kNaN; // C, |charge|
        double noise = kNaN;         // rms noise of its PD records, V
    };

    struct Pulse
    {
        int shot = 0;
        double time = kNaN;  // s
        double peak = kNaN;  // V, signed
        double charge = kNaN; // C, signed (NaN without a charge calibration)
        double voltage = kNaN; // instantaneous test voltage, V
        double phase = kNaN;   // degrees, 0 at the rising zero crossing
        bool located = false;
        double echoTime = kNaN;
        double position = kNaN; // m
        int site = -1;
    };

    struct Site
    {
        double position = kNaN;
        int count = 0;
        double medianCharge = kNaN;
        double largestCharge = kNaN;
        double inception = kNaN;  // V
        double extinction = kNaN; // V
    };

    QString file;
    QVariantMap recording; // what the recording says about itself (device, mode, time)
    int operationMode = -1;
    QString analyser;      // "dac", "cr" or "ac": the plug-in's analyser for the mode
    bool dampedVoltage = false;
    // The plug-in recorded the running phase of a continuous voltage (rad)
    // in place of the voltage: phases come from it, the voltage from the
    // plug-in's recorded amplitude, and there is no fit.
    bool testVoltageIsPhase = false;

    double cableLength = kNaN;  // m
    double velocity = kNaN;     // m/s
    QString velocitySource;
    double chargeFactor = kNaN; // V/C
    QString chargeFactorSource;
    int pdChannel = 0;
    double detectionThreshold = kNaN; // V, the largest of the records' thresholds
    double pdThreshold = kNaN;        // C
    QString pdThresholdSource;

    QVector<Shot> shots;
    QVector<Pulse> pulses;
    QVector<Site> sites;
    double inception = kNaN;
    double extinction = kNaN;

    // Medians over the shots, and which method the headline uses.
    double frequency = kNaN, attenuation = kNaN, tanDelta = kNaN, voltage = kNaN;
    double pluginFrequency = kNaN, pluginAttenuation = kNaN, pluginTanDelta = kNaN;
    QString headlineMethod;

    // Records the figures show: the shot with the highest voltage, the
    // largest located pulse.
    int figureShot = -1;
    int figurePulse = -1;

    QStringList notes; // what is missing, in words for the reader
    bool hasTestVoltage = false;
    bool hasPdChannel = false;
};
