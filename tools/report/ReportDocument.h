#pragma once

#include <QString>

struct AnalysisResult;
class RecordingReader;

// The report as a PDF (QPdfWriter, A4): a summary table, the PD sites, the
// figures (test voltage with its fit, a PD pulse with its echo, the PD map
// along the cable, PD against phase or instantaneous voltage) and the shots.
// The figures are drawn by the plots library; the samples they show are read
// from the recording again, one record each.
class ReportDocument
{
public:
    // False with error set if the PDF cannot be written.
    static bool write(const AnalysisResult &result, const RecordingReader &reader, const QString &path, QString *error);
};
