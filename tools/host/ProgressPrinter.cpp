#include "ProgressPrinter.h"

#include "ChannelData.h"
#include "RunReport.h"

#include <QMutexLocker>
#include <QStringList>

#include <cmath>

namespace {

QString value(double v, const char *unit, int precision = 6)
{
    if (!std::isfinite(v))
        return QStringLiteral("-");
    return QStringLiteral("%1 %2").arg(QString::number(v, 'g', precision), QLatin1String(unit)).trimmed();
}

QString pad(const QString &text, int width)
{
    return width < 0 ? text.leftJustified(-width) : text.rightJustified(width);
}

} // namespace

ProgressPrinter::ProgressPrinter(FILE *stream, bool live, bool quiet)
    : m_stream(stream)
    , m_live(live && !quiet)
    , m_quiet(quiet)
{
}

void ProgressPrinter::writeLine(const QString &line)
{
    // Clear the live line, print, and draw it again underneath.
    if (m_live && !m_status.isEmpty())
        std::fputs("\r\033[K", m_stream);
    std::fputs(line.toLocal8Bit().constData(), m_stream);
    std::fputc('\n', m_stream);
    if (m_live && !m_status.isEmpty())
        std::fputs(m_status.toLocal8Bit().constData(), m_stream);
    std::fflush(m_stream);
}

void ProgressPrinter::event(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    if (!m_quiet)
        writeLine(line);
}

void ProgressPrinter::message(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    writeLine(line);
}

void ProgressPrinter::setStatus(const QString &status)
{
    QMutexLocker lock(&m_mutex);
    if (!m_live)
        return;
    m_status = status;
    std::fputs("\r\033[K", m_stream);
    std::fputs(m_status.toLocal8Bit().constData(), m_stream);
    std::fflush(m_stream);
}

void ProgressPrinter::clearStatus()
{
    QMutexLocker lock(&m_mutex);
    if (!m_live || m_status.isEmpty())
        return;
    m_status.clear();
    std::fputs("\r\033[K", m_stream);
    std::fflush(m_stream);
}

QString ProgressPrinter::formatBytes(double bytes)
{
    static const char *const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 4) {
        bytes /= 1000.0;
        ++unit;
    }
    return unit == 0 ? QStringLiteral("%1 B").arg(qint64(bytes))
                     : QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString ProgressPrinter::severityName(int severity)
{
    switch (severity) {
    case 0:
        return QStringLiteral("information");
    case 1:
        return QStringLiteral("warning");
    case 2:
        return QStringLiteral("error");
    default:
        return QStringLiteral("severity %1").arg(severity);
    }
}

QString ProgressPrinter::measurementDone(const RunReport::Measurement &m)
{
    QString line = QStringLiteral("%1, %2 chunks, %3")
                       .arg(m.complete ? QStringLiteral("done") : QStringLiteral("cut short"))
                       .arg(m.chunks).arg(formatBytes(double(m.bytes)));
    if (m.parameters.contains(2013))
        line += QStringLiteral(", test voltage %1 Hz").arg(m.parameters.value(2013), 0, 'g', 6);
    if (m.droppedShots > 0)
        line += QStringLiteral(", shots dropped: %1").arg(m.droppedShots);
    return line;
}

QString ProgressPrinter::statusText(const QString &state, const RunReport &report, double seconds)
{
    QString text = QStringLiteral("%1").arg(state);
    if (!report.measurements.isEmpty()) {
        const RunReport::Measurement &m = report.measurements.last();
        // A GUI session runs measurements until the user stops: no count.
        const QString which = report.count > 0 ? QStringLiteral("%1/%2").arg(m.index).arg(report.count)
                                               : QString::number(m.index);
        text = QStringLiteral("measurement %1  %2  %3 s  %4 chunks  %5")
                   .arg(which, state)
                   .arg(seconds, 0, 'f', 1)
                   .arg(m.chunks)
                   .arg(formatBytes(double(m.bytes)));
        if (seconds > 0.1)
            text += QStringLiteral("  %1/s").arg(formatBytes(double(m.bytes) / seconds));
    }
    return text;
}

QString ProgressPrinter::summary(const RunReport &report)
{
    QStringList lines;
    const QVariantMap &d = report.device;
    lines << QStringLiteral("Recording    %1 (%2)")
                 .arg(report.outputPath, report.fileWritten ? QStringLiteral("written") : QStringLiteral("not written"));
    if (!d.isEmpty()) {
        lines << QStringLiteral("Device       serial %1, firmware %2, software %3, hardware %4, protocol %5%6")
                     .arg(d.value(QStringLiteral("serial")).toString(),
                          d.value(QStringLiteral("firmware_version")).toString(),
                          d.value(QStringLiteral("software_version")).toString(),
                          d.value(QStringLiteral("hardware_version")).toString(),
                          d.value(QStringLiteral("protocol_version")).toString(),
                          report.simulated ? QStringLiteral(" (simulator)") : QString());
    }
    const QVariantMap &e = report.environment;
    if (e.contains(QStringLiteral("operation_mode"))) {
        lines << QStringLiteral("Environment  %1 (operation mode %2), measurement mode %3")
                     .arg(e.value(QStringLiteral("operation_mode_name")).toString(),
                          e.value(QStringLiteral("operation_mode")).toString(),
                          e.value(QStringLiteral("measurement_mode")).toString());
    }
    if (!report.error.isEmpty())
        lines << QStringLiteral("Result       failed (exit code %1): %2").arg(report.exitCode).arg(report.error);
    else
        lines << QStringLiteral("Result       %1 of %2 measurements").arg(report.measurements.size()).arg(report.count);

    if (!report.measurements.isEmpty()) {
        lines << QString();
        lines << QStringLiteral("   #   run s  chunks        data  frequency     test voltage  attenuation   overflow"
                                "  dropped  complete");
        for (const RunReport::Measurement &m : report.measurements) {
            const auto p = [&](int id) { return m.parameters.value(id, std::nan("")); };
            const double overflow = p(2017);
            lines << QStringLiteral("%1  %2  %3  %4  %5 %6 %7 %8  %9  %10")
                         .arg(pad(QString::number(m.index), 4))
                         .arg(pad(QString::number(m.runSeconds, 'f', 2), 6))
                         .arg(pad(QString::number(m.chunks), 6))
                         .arg(pad(formatBytes(double(m.bytes)), 10))
                         .arg(pad(value(p(2013), "Hz"), -13))
                         .arg(pad(value(p(2014), "V"), -13))
                         .arg(pad(value(p(2015), "1/s"), -13))
                         .arg(pad(std::isfinite(overflow) ? (overflow != 0 ? "yes" : "no") : "-", -8))
                         .arg(pad(QString::number(m.droppedShots), 7))
                         .arg(m.complete ? QStringLiteral("yes") : QStringLiteral("no"));
        }
        if (!report.postProcessing) {
            lines << QStringLiteral("(the device offers no post-processing parameters: frequency, test voltage, "
                                    "attenuation and overflow are not measured)");
        }

        // Channels over the whole run.
        QMap<int, RunReport::Channel> channels;
        for (const RunReport::Measurement &m : report.measurements) {
            for (const RunReport::Channel &c : m.channels) {
                auto it = channels.find(c.id);
                if (it == channels.end()) {
                    channels.insert(c.id, c);
                    continue;
                }
                it->announced += c.announced;
                it->chunks += c.chunks;
                it->samples += c.samples;
                it->bytes += c.bytes;
                it->peak = std::max(it->peak, c.peak);
            }
        }
        lines << QString();
        lines << QStringLiteral("  channel  name                              unit  type     announced  taken     samples"
                                "        data        peak");
        for (const RunReport::Channel &c : channels) {
            lines << QStringLiteral("  %1  %2  %3  %4  %5  %6  %7  %8  %9%10")
                         .arg(pad(QString::number(c.id), 7))
                         .arg(pad(c.name, -32))
                         .arg(pad(c.unit, -4))
                         .arg(pad(c.dataType == ChannelData::DataTypeFloat ? QStringLiteral("float32")
                                                                          : QStringLiteral("uint8"),
                                  -7))
                         .arg(pad(QString::number(c.announced), 9))
                         .arg(pad(QString::number(c.chunks), 5))
                         .arg(pad(QString::number(c.samples), 10))
                         .arg(pad(formatBytes(double(c.bytes)), 10))
                         .arg(pad(c.dataType == ChannelData::DataTypeFloat ? QString::number(c.peak, 'g', 5)
                                                                          : QStringLiteral("-"),
                                  10))
                         .arg(c.recorded ? QString() : QStringLiteral("  (not recorded)"));
        }
    }
    if (report.chunksOutside > 0 || report.chunksLost > 0) {
        lines << QString();
        lines << QStringLiteral("%1 chunks arrived outside a measurement, %2 could not be taken")
                     .arg(report.chunksOutside)
                     .arg(report.chunksLost);
    }
    double stall = 0.0;
    for (const RunReport::Measurement &m : report.measurements)
        stall += m.hostStallSeconds;
    if (stall > 0.0) {
        lines << QStringLiteral("dravik-host did not run for %1 s while measuring; the detector may have dropped "
                                "frames of that time")
                     .arg(stall, 0, 'f', 1);
    }
    if (report.droppedShots() > 0) {
        lines << QStringLiteral("Shots dropped by the device, their test voltage below the amplitude threshold: %1")
                     .arg(report.droppedShots());
    }
    int warnings = 0;
    for (const RunReport::Notification &n : report.notifications)
        warnings += n.severity >= 1 ? 1 : 0;
    if (warnings > 0)
        lines << QStringLiteral("%1 warning or error notifications from the device (see above)").arg(warnings);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
