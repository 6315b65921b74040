#include "RunReport.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {

QJsonValue number(double v)
{
    // JSON has no NaN: unknown values are null.
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

} // namespace

const QList<int> &RunReport::postProcessingIds()
{
    static const QList<int> ids{2013, 2014, 2015, 2016, 2017};
    return ids;
}

QString RunReport::parameterName(int id)
{
    switch (id) {
    case 2013:
        return QStringLiteral("frequency_hz");
    case 2014:
        return QStringLiteral("test_voltage_v");
    case 2015:
        return QStringLiteral("attenuation_per_s");
    case 2016:
        return QStringLiteral("charge_to_voltage_factor_v_per_c");
    case 2017:
        return QStringLiteral("overflow");
    default:
        return QStringLiteral("parameter_%1").arg(id);
    }
}

RunReport::Channel &RunReport::announce(Measurement &m, const Channel &channel)
{
    auto it = m.channels.find(channel.id);
    if (it == m.channels.end()) {
        it = m.channels.insert(channel.id, channel);
        it->announced = 0;
        it->chunks = 0;
        it->samples = 0;
        it->bytes = 0;
        it->peak = 0.0;
    }
    return *it;
}

void RunReport::tally(Measurement &m, const Channel &channel, qint64 samples, qint64 bytes, double peak)
{
    Channel &c = announce(m, channel);
    c.chunks += 1;
    c.samples += samples;
    c.bytes += bytes;
    c.peak = std::max(c.peak, peak);
    m.chunks += 1;
    m.bytes += bytes;
}

double RunReport::lastParameter(int id) const
{
    for (auto it = measurements.crbegin(); it != measurements.crend(); ++it) {
        const double v = it->parameters.value(id, std::numeric_limits<double>::quiet_NaN());
        if (std::isfinite(v))
            return v;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

int RunReport::recordedChunks() const
{
    int total = 0;
    for (const Measurement &m : measurements) {
        for (const Channel &c : m.channels)
            total += c.recorded ? c.chunks : 0;
    }
    return total;
}

int RunReport::droppedShots() const
{
    int total = 0;
    for (const Measurement &m : measurements)
        total += m.droppedShots;
    return total;
}

QJsonObject RunReport::toJson() const
{
    QJsonObject root;
    root.insert(QStringLiteral("exit_code"), exitCode);
    root.insert(QStringLiteral("error"), error.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(error));
    root.insert(QStringLiteral("output"), outputPath);
    root.insert(QStringLiteral("file_written"), fileWritten);
    root.insert(QStringLiteral("address"), address);
    root.insert(QStringLiteral("simulated"), simulated);
    root.insert(QStringLiteral("count"), count);
    root.insert(QStringLiteral("duration_s"), durationSeconds);
    root.insert(QStringLiteral("plugin"), QJsonObject::fromVariantMap(plugin));
    root.insert(QStringLiteral("device"), QJsonObject::fromVariantMap(device));
    root.insert(QStringLiteral("environment"), QJsonObject::fromVariantMap(environment));
    root.insert(QStringLiteral("settings"), QJsonObject::fromVariantHash(settings));
    root.insert(QStringLiteral("device_settings"), QJsonObject::fromVariantHash(deviceSettings));
    root.insert(QStringLiteral("post_processing_parameters"), postProcessing);

    QJsonObject last;
    for (int id : postProcessingIds())
        last.insert(parameterName(id), number(lastParameter(id)));
    root.insert(QStringLiteral("parameters"), last);

    QJsonArray list;
    for (const Measurement &m : measurements) {
        QJsonObject o;
        o.insert(QStringLiteral("index"), m.index);
        o.insert(QStringLiteral("started_at"), m.startedAt.toString(Qt::ISODateWithMs));
        o.insert(QStringLiteral("run_s"), m.runSeconds);
        o.insert(QStringLiteral("chunks"), m.chunks);
        o.insert(QStringLiteral("bytes"), double(m.bytes));
        o.insert(QStringLiteral("stop_status"), m.stopStatus);
        o.insert(QStringLiteral("drained"), m.drained);
        o.insert(QStringLiteral("complete"), m.complete);
        o.insert(QStringLiteral("chunks_not_taken"), m.notTaken);
        o.insert(QStringLiteral("host_stall_s"), m.hostStallSeconds);
        o.insert(QStringLiteral("dropped_shots"), m.droppedShots);
        QJsonObject parameters;
        for (int id : postProcessingIds())
            parameters.insert(parameterName(id), number(m.parameters.value(id, std::nan(""))));
        o.insert(QStringLiteral("parameters"), parameters);
        QJsonArray channels;
        for (const Channel &c : m.channels) {
            QJsonObject co;
            co.insert(QStringLiteral("id"), c.id);
            co.insert(QStringLiteral("name"), c.name);
            co.insert(QStringLiteral("unit"), c.unit);
            co.insert(QStringLiteral("data_type"), c.dataType);
            co.insert(QStringLiteral("sample_rate"), c.sampleRate);
            co.insert(QStringLiteral("recorded"), c.recorded);
            co.insert(QStringLiteral("announced"), c.announced);
            co.insert(QStringLiteral("chunks"), c.chunks);
            co.insert(QStringLiteral("samples"), double(c.samples));
            co.insert(QStringLiteral("bytes"), double(c.bytes));
            co.insert(QStringLiteral("peak"), c.peak);
            channels.append(co);
        }
        o.insert(QStringLiteral("channels"), channels);
        list.append(o);
    }
    root.insert(QStringLiteral("measurements"), list);
    root.insert(QStringLiteral("dropped_shots"), droppedShots());

    QJsonArray notes;
    for (const Notification &n : notifications) {
        QJsonObject o;
        o.insert(QStringLiteral("severity"), n.severity);
        o.insert(QStringLiteral("text"), n.text);
        o.insert(QStringLiteral("token"), n.token);
        o.insert(QStringLiteral("at_s"), n.atSeconds);
        notes.append(o);
    }
    root.insert(QStringLiteral("notifications"), notes);
    root.insert(QStringLiteral("chunks_outside_measurements"), chunksOutside);
    root.insert(QStringLiteral("chunks_not_handed_over"), chunksLost);
    return root;
}

QVariantMap RunReport::fileAttributes() const
{
    QVariantMap a;
    a.insert(QStringLiteral("format"), QStringLiteral("dravik-host recording"));
    a.insert(QStringLiteral("format_version"), 1);
    // A failed run keeps what it measured: not complete, with the reason.
    a.insert(QStringLiteral("complete"), exitCode == 0);
    a.insert(QStringLiteral("exit_code"), exitCode);
    a.insert(QStringLiteral("error"), error);
    a.insert(QStringLiteral("created_utc"), createdAt.toString(Qt::ISODateWithMs));
    a.insert(QStringLiteral("host_version"), hostVersion);
    const auto text = [](const QVariantMap &map, const char *key) { return map.value(QLatin1String(key)).toString(); };
    a.insert(QStringLiteral("plugin_file"), text(plugin, "file"));
    a.insert(QStringLiteral("plugin_name"), text(plugin, "name"));
    a.insert(QStringLiteral("plugin_description"), text(plugin, "description"));
    a.insert(QStringLiteral("plugin_version"), text(plugin, "version"));
    a.insert(QStringLiteral("plugin_uuid"), text(plugin, "uuid"));
    // Identification as text: the detector reports numbers, but a reader
    // should not have to care which.
    for (const char *key : {"serial", "firmware_version", "software_version", "hardware_version", "protocol_version",
                            "product_number", "descriptor", "type"})
        a.insert(QStringLiteral("device_%1").arg(QLatin1String(key)), text(device, key));
    bool isNumber = false;
    const double calibration = device.value(QStringLiteral("test_voltage_calibration")).toDouble(&isNumber);
    a.insert(QStringLiteral("test_voltage_calibration"), isNumber ? calibration : std::nan(""));
    a.insert(QStringLiteral("address"), address);
    a.insert(QStringLiteral("simulated"), simulated);
    a.insert(QStringLiteral("settings"), settings);
    a.insert(QStringLiteral("device_settings"), deviceSettings);
    a.insert(QStringLiteral("environment"), environment);
    a.insert(QStringLiteral("operation_mode"), environment.value(QStringLiteral("operation_mode"), -1).toInt());
    a.insert(QStringLiteral("operation_mode_name"), environment.value(QStringLiteral("operation_mode_name")).toString());
    a.insert(QStringLiteral("measurement_mode"), environment.value(QStringLiteral("measurement_mode"), -1).toInt());
    a.insert(QStringLiteral("measurement_count"), measurements.size());
    a.insert(QStringLiteral("duration_s"), durationSeconds);
    a.insert(QStringLiteral("post_processing_parameters"), postProcessing);
    for (int id : postProcessingIds())
        a.insert(parameterName(id), lastParameter(id));
    return a;
}

QVariantMap RunReport::measurementAttributes(const Measurement &m)
{
    QVariantMap a;
    a.insert(QStringLiteral("index"), m.index);
    a.insert(QStringLiteral("started_utc"), m.startedAt.toString(Qt::ISODateWithMs));
    a.insert(QStringLiteral("run_s"), m.runSeconds);
    int recorded = 0;
    qint64 recordedBytes = 0;
    for (const Channel &c : m.channels) {
        if (c.recorded) {
            recorded += c.chunks;
            recordedBytes += c.bytes;
        }
    }
    // Datasets in the group; chunks of channels left out with --channels are
    // counted in chunks_taken only.
    a.insert(QStringLiteral("chunk_count"), recorded);
    a.insert(QStringLiteral("byte_count"), recordedBytes);
    a.insert(QStringLiteral("chunks_taken"), m.chunks);
    a.insert(QStringLiteral("stop_status"), m.stopStatus);
    a.insert(QStringLiteral("drained"), m.drained);
    a.insert(QStringLiteral("complete"), m.complete);
    a.insert(QStringLiteral("chunks_not_taken"), m.notTaken);
    a.insert(QStringLiteral("host_stall_s"), m.hostStallSeconds);
    a.insert(QStringLiteral("dropped_shots"), m.droppedShots);
    for (int id : postProcessingIds())
        a.insert(parameterName(id), m.parameters.value(id, std::nan("")));
    return a;
}
