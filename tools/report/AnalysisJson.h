#pragma once

#include <QJsonObject>

struct AnalysisResult;

// The report's JSON: every number of the PDF, in SI units (V, Hz, 1/s, C, m,
// m/s, s, degrees), NaN as null.
class AnalysisJson
{
public:
    static QJsonObject toJson(const AnalysisResult &result);
};
