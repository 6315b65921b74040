#include "AnalysisJson.h"

#include "AnalysisResult.h"

#include <QJsonArray>

#include <cmath>

namespace {

QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

QJsonObject shotJson(const AnalysisResult::Shot &s)
{
    return QJsonObject{
        {QStringLiteral("measurement"), s.measurement},
        {QStringLiteral("time_s"), number(s.time)},
        {QStringLiteral("has_voltage"), s.hasVoltage},
        {QStringLiteral("voltage_v"), number(s.voltage)},
        {QStringLiteral("tan_delta"), number(s.tanDelta)},
        {QStringLiteral("plugin"),
         QJsonObject{{QStringLiteral("frequency_hz"), number(s.pluginFrequency)},
                     {QStringLiteral("attenuation_per_s"), number(s.pluginAttenuation)},
                     {QStringLiteral("amplitude_v"), number(s.pluginAmplitude)},
                     {QStringLiteral("tan_delta"), number(s.pluginTanDelta)}}},
        {QStringLiteral("fit"),
         QJsonObject{{QStringLiteral("ok"), s.fitted},
                     {QStringLiteral("error"), s.fitted ? QString() : s.fitError},
                     {QStringLiteral("frequency_hz"), number(s.fitFrequency)},
                     {QStringLiteral("attenuation_per_s"), number(s.fitAttenuation)},
                     {QStringLiteral("amplitude_v"), number(s.fitAmplitude)},
                     {QStringLiteral("phase_rad"), number(s.fitPhase)},
                     {QStringLiteral("offset_v"), number(s.fitOffset)},
                     {QStringLiteral("rms_residual_v"), number(s.fitRms)},
                     {QStringLiteral("iterations"), s.fitIterations},
                     {QStringLiteral("start_s"), number(s.fitStart)}}},
        {QStringLiteral("pulses"), s.pulses},
        {QStringLiteral("largest_charge_c"), number(s.largestCharge)},
        {QStringLiteral("noise_v"), number(s.noise)},
    };
}

QJsonObject pulseJson(const AnalysisResult::Pulse &p)
{
    return QJsonObject{
        {QStringLiteral("shot"), p.shot},
        {QStringLiteral("time_s"), number(p.time)},
        {QStringLiteral("peak_v"), number(p.peak)},
        {QStringLiteral("charge_c"), number(p.charge)},
        {QStringLiteral("polarity"), p.peak < 0 ? -1 : 1},
        {QStringLiteral("voltage_v"), number(p.voltage)},
        {QStringLiteral("phase_deg"), number(p.phase)},
        {QStringLiteral("located"), p.located},
        {QStringLiteral("echo_time_s"), number(p.echoTime)},
        {QStringLiteral("position_m"), number(p.position)},
        {QStringLiteral("site"), p.site},
    };
}

QJsonObject siteJson(const AnalysisResult::Site &s)
{
    return QJsonObject{
        {QStringLiteral("position_m"), number(s.position)},
        {QStringLiteral("count"), s.count},
        {QStringLiteral("median_charge_c"), number(s.medianCharge)},
        {QStringLiteral("largest_charge_c"), number(s.largestCharge)},
        {QStringLiteral("inception_v"), number(s.inception)},
        {QStringLiteral("extinction_v"), number(s.extinction)},
    };
}

template<typename T, typename F>
QJsonArray array(const QVector<T> &items, F f)
{
    QJsonArray out;
    for (const T &item : items)
        out.append(f(item));
    return out;
}

} // namespace

QJsonObject AnalysisJson::toJson(const AnalysisResult &r)
{
    int located = 0;
    for (const AnalysisResult::Pulse &p : r.pulses)
        located += p.located ? 1 : 0;
    return QJsonObject{
        {QStringLiteral("file"), r.file},
        {QStringLiteral("recording"), QJsonObject::fromVariantMap(r.recording)},
        {QStringLiteral("operation_mode"), r.operationMode},
        {QStringLiteral("analyser"), r.analyser},
        {QStringLiteral("test_voltage_is_phase"), r.testVoltageIsPhase},
        {QStringLiteral("test_voltage"),
         QJsonObject{{QStringLiteral("headline_method"), r.headlineMethod},
                     {QStringLiteral("voltage_v"), number(r.voltage)},
                     {QStringLiteral("frequency_hz"), number(r.frequency)},
                     {QStringLiteral("attenuation_per_s"), number(r.attenuation)},
                     {QStringLiteral("tan_delta"), number(r.tanDelta)},
                     {QStringLiteral("plugin_frequency_hz"), number(r.pluginFrequency)},
                     {QStringLiteral("plugin_attenuation_per_s"), number(r.pluginAttenuation)},
                     {QStringLiteral("plugin_tan_delta"), number(r.pluginTanDelta)}}},
        {QStringLiteral("cable"),
         QJsonObject{{QStringLiteral("length_m"), number(r.cableLength)},
                     {QStringLiteral("velocity_m_per_s"), number(r.velocity)},
                     {QStringLiteral("velocity_source"), r.velocitySource}}},
        {QStringLiteral("pd"),
         QJsonObject{{QStringLiteral("channel"), r.pdChannel},
                     {QStringLiteral("charge_factor_v_per_c"), number(r.chargeFactor)},
                     {QStringLiteral("charge_factor_source"), r.chargeFactorSource},
                     {QStringLiteral("detection_threshold_v"), number(r.detectionThreshold)},
                     {QStringLiteral("threshold_c"), number(r.pdThreshold)},
                     {QStringLiteral("threshold_source"), r.pdThresholdSource},
                     {QStringLiteral("pulses"), r.pulses.size()},
                     {QStringLiteral("located"), located},
                     {QStringLiteral("inception_v"), number(r.inception)},
                     {QStringLiteral("extinction_v"), number(r.extinction)}}},
        {QStringLiteral("sites"), array(r.sites, siteJson)},
        {QStringLiteral("shots"), array(r.shots, shotJson)},
        {QStringLiteral("pulses"), array(r.pulses, pulseJson)},
        {QStringLiteral("notes"), QJsonArray::fromStringList(r.notes)},
    };
}
