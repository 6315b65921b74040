#pragma once

#include "AnalysisResult.h"
#include "InterfacePdTestvoltage.h"
#include "RecordingShots.h"

#include <QVector>

#include <memory>

class RecordingReader;


// The analysis of one recording: per shot the test voltage (the plug-in's
// analyser and a least-squares fit), the PD pulses of its PD records with
// charge, instantaneous voltage and phase, their site by reflectometry, the
// sites, and inception and extinction over the shots.
class RecordingAnalysis
{
public:
    struct Options
    {
        double cableLength = AnalysisResult::kNaN; // m
        double velocity = AnalysisResult::kNaN;    // m/s
        QString velocitySource;
        double chargeFactor = AnalysisResult::kNaN; // V/C; NaN: the recording's own
        QString chargeFactorSource;
        double pdThreshold = AnalysisResult::kNaN; // C; NaN: from the noise
    };

    // The reader must be open on a complete recording (status Ok).
    static AnalysisResult run(const RecordingReader &reader, const Options &options);

    // The analyser the plug-in uses for an operation mode ("dac", "cr", "ac"),
    // empty for modes without one.
    static QString analyserName(int operationMode);
    static std::unique_ptr<InterfacePdTestvoltage> makeAnalyser(const QString &name, double sampleRate, double scale);
    // Factor from recorded test voltage samples to volts: 1 where the plug-in
    // conditioned them (measurement mode 0 with its post-processing), the
    // detector's calibration where they are as the detector sent them.
    static double testVoltageScale(const QVariantMap &rootAttributes);
    // The plug-in's continuous-AC analysis (measurement mode 0) leaves the
    // test voltage channel holding the running phase in radians.
    static bool testVoltageIsPhase(const QVariantMap &rootAttributes);
    // Samples of a record scaled by scale; empty with error set if unreadable.
    static QVector<float> samples(const RecordingReader &reader, const RecordingShots::Record &record, double scale,
                                  QString *error);
    // The part of a test voltage record the fit and the figures use: from the
    // trigger (the shot) on, at most ten periods of frequency.
    static void fitWindow(const RecordingShots::Record &record, double frequency, int *first, int *count);

    // Sites further apart than this share of the cable length are told apart.
    static constexpr double kSiteGap = 0.02;
};
