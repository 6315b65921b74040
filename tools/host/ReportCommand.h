#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <limits>

// dravik-host report RECORDING.h5 -o REPORT.pdf [--json REPORT.json]: the
// test engineer's answers from a recording alone: test voltage and tan delta
// per shot, PD pulses with charge, their sites along the cable, inception and
// extinction, as a PDF with figures and as JSON.
class ReportCommand
{
public:
    struct Options
    {
        QString recording;
        QString output;
        QString json;
        QString calibration;
        double cableLength = std::numeric_limits<double>::quiet_NaN(); // m
        double velocity = std::numeric_limits<double>::quiet_NaN();    // m/s
        double pdThreshold = std::numeric_limits<double>::quiet_NaN(); // C
        bool overwrite = false;
        int detector = 0; // of a recording of several detectors, from 1
    };

    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();
    // An empty string on success, otherwise what is wrong with the command line.
    static QString parse(const QStringList &args, Options *options);
};
