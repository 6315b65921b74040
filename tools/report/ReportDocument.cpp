#include "ReportDocument.h"

#include "AnalysisResult.h"
#include "DampedCosineFit.h"
#include "Figure.h"
#include "RecordingAnalysis.h"
#include "RecordingReader.h"
#include "RecordingShots.h"

#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cmath>

namespace {

const QColor kSignal(30, 90, 160);
const QColor kFit(200, 60, 30);
const QColor kMarker(90, 90, 90);
const QColor kPositive(200, 60, 30);
const QColor kNegative(30, 90, 160);

QString fmt(double v, int digits = 4, double scale = 1.0, const QString &unit = QString())
{
    if (!std::isfinite(v))
        return QStringLiteral("–");
    const QString number = QString::number(v * scale, 'g', digits);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

// Lays text rows and figures down the page, starting a new page when one
// does not fit.
class Page
{
public:
    Page(QPdfWriter *writer, QPainter *painter)
        : m_writer(writer)
        , m_painter(painter)
    {
        const QRect r = painter->viewport();
        m_width = r.width();
        m_height = r.height();
        m_y = 0;
    }

    int width() const { return m_width; }

    void ensure(int height)
    {
        if (m_y + height > m_height) {
            m_writer->newPage();
            m_y = 0;
        }
    }

    void heading(const QString &text, int pointSize = 12)
    {
        QFont font(QStringLiteral("DejaVu Sans"), pointSize, QFont::Bold);
        m_painter->setFont(font);
        const int h = QFontMetrics(font, m_writer).height();
        ensure(3 * h);
        m_y += h / 2;
        m_painter->drawText(QRect(0, m_y, m_width, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        m_y += h + h / 4;
    }

    // One row of cells; widths are shares of the page width.
    void row(const QStringList &cells, const QVector<double> &shares, bool bold = false)
    {
        QFont font(QStringLiteral("DejaVu Sans"), 8, bold ? QFont::Bold : QFont::Normal);
        m_painter->setFont(font);
        const int h = QFontMetrics(font, m_writer).height() * 5 / 4;
        ensure(h);
        int x = 0;
        for (int i = 0; i < cells.size(); ++i) {
            const int w = int(shares.value(i, 0.2) * m_width);
            m_painter->drawText(QRect(x, m_y, w - h / 4, h), Qt::AlignLeft | Qt::AlignVCenter, cells.at(i));
            x += w;
        }
        if (bold) {
            m_painter->setPen(QPen(Qt::gray, 0));
            m_painter->drawLine(0, m_y + h, m_width, m_y + h);
            m_painter->setPen(Qt::black);
        }
        m_y += h;
    }

    void figure(const Figure &figure, double aspect = 0.36)
    {
        const int h = int(m_width * aspect);
        ensure(h);
        figure.render(m_painter, QRectF(0, m_y, m_width, h));
        m_y += h + h / 12;
    }

private:
    QPdfWriter *m_writer;
    QPainter *m_painter;
    int m_width = 0;
    int m_height = 0;
    int m_y = 0;
};

void summary(Page &page, const AnalysisResult &r)
{
    const QVector<double> two{0.38, 0.62};
    page.heading(QStringLiteral("PD test report"), 16);
    const QVariantMap &rec = r.recording;
    page.row({QStringLiteral("recording"), QFileInfo(r.file).fileName()}, two);
    page.row({QStringLiteral("recorded (UTC)"), rec.value(QStringLiteral("created_utc")).toString()}, two);
    page.row({QStringLiteral("detector"),
              QStringLiteral("serial %1, firmware %2%3")
                  .arg(rec.value(QStringLiteral("device_serial")).toString(),
                       rec.value(QStringLiteral("device_firmware_version")).toString(),
                       rec.value(QStringLiteral("simulated")).toInt() ? QStringLiteral(" (simulated)") : QString())},
             two);
    page.row({QStringLiteral("operation mode"), rec.value(QStringLiteral("operation_mode_name")).toString()}, two);
    page.row({QStringLiteral("shots"), QString::number(r.shots.size())}, two);

    page.heading(QStringLiteral("Test voltage"));
    const QVector<double> three{0.38, 0.31, 0.31};
    page.row({QString(), QStringLiteral("least-squares fit"), QStringLiteral("plug-in analyser")}, three, true);
    double fitFrequency = AnalysisResult::kNaN, fitAttenuation = AnalysisResult::kNaN, fitTan = AnalysisResult::kNaN;
    if (r.headlineMethod == QLatin1String("least-squares fit")) {
        fitFrequency = r.frequency;
        fitAttenuation = r.attenuation;
        fitTan = r.tanDelta;
    }
    page.row({QStringLiteral("frequency (median)"), fmt(fitFrequency, 7, 1, QStringLiteral("Hz")),
              fmt(r.pluginFrequency, 7, 1, QStringLiteral("Hz"))},
             three);
    if (r.dampedVoltage) {
        page.row({QStringLiteral("attenuation δ (median)"), fmt(fitAttenuation, 5, 1, QStringLiteral("1/s")),
                  fmt(r.pluginAttenuation, 5, 1, QStringLiteral("1/s"))},
                 three);
        page.row({QStringLiteral("tan δ ≈ δ/(π f) (median)"), fmt(fitTan, 4, 1), fmt(r.pluginTanDelta, 4, 1)}, three);
    }
    page.row({QStringLiteral("peak voltage (median)"), fmt(r.voltage, 5, 1e-3, QStringLiteral("kV")), QString()}, three);
    page.row({QStringLiteral("headline values use"), r.headlineMethod.isEmpty() ? QStringLiteral("–") : r.headlineMethod,
              QString()},
             three);

    page.heading(QStringLiteral("Partial discharges"));
    int located = 0;
    for (const AnalysisResult::Pulse &p : r.pulses)
        located += p.located ? 1 : 0;
    page.row({QStringLiteral("PD channel"), r.pdChannel ? QString::number(r.pdChannel) : QStringLiteral("none")}, two);
    page.row({QStringLiteral("cable length / velocity"),
              QStringLiteral("%1 / %2 (%3)")
                  .arg(fmt(r.cableLength, 5, 1, QStringLiteral("m")), fmt(r.velocity, 5, 1e-6, QStringLiteral("m/µs")),
                       r.velocitySource.isEmpty() ? QStringLiteral("not given") : r.velocitySource)},
             two);
    page.row({QStringLiteral("charge factor"),
              QStringLiteral("%1 (%2)")
                  .arg(fmt(r.chargeFactor, 5, 1e-9, QStringLiteral("V/nC")),
                       r.chargeFactorSource.isEmpty() ? QStringLiteral("none") : r.chargeFactorSource)},
             two);
    page.row({QStringLiteral("detection threshold"), fmt(r.detectionThreshold, 4, 1e3, QStringLiteral("mV"))}, two);
    page.row({QStringLiteral("PD threshold"),
              QStringLiteral("%1 (%2)").arg(fmt(r.pdThreshold, 4, 1e12, QStringLiteral("pC")), r.pdThresholdSource)},
             two);
    page.row({QStringLiteral("pulses / located"), QStringLiteral("%1 / %2").arg(r.pulses.size()).arg(located)}, two);
    page.row({QStringLiteral("inception voltage"), fmt(r.inception, 4, 1e-3, QStringLiteral("kV"))}, two);
    page.row({QStringLiteral("extinction voltage"), fmt(r.extinction, 4, 1e-3, QStringLiteral("kV"))}, two);

    page.heading(QStringLiteral("PD sites"));
    const QVector<double> six{0.1, 0.18, 0.12, 0.2, 0.2, 0.2};
    page.row({QStringLiteral("site"), QStringLiteral("position"), QStringLiteral("pulses"),
              QStringLiteral("median charge"), QStringLiteral("largest charge"), QStringLiteral("inception")},
             six, true);
    for (int i = 0; i < r.sites.size(); ++i) {
        const AnalysisResult::Site &s = r.sites.at(i);
        page.row({QString::number(i + 1), fmt(s.position, 4, 1, QStringLiteral("m")), QString::number(s.count),
                  fmt(s.medianCharge, 4, 1e12, QStringLiteral("pC")), fmt(s.largestCharge, 4, 1e12, QStringLiteral("pC")),
                  fmt(s.inception, 4, 1e-3, QStringLiteral("kV"))},
                 six);
    }
    if (r.sites.isEmpty())
        page.row({QStringLiteral("no PD site located")}, {1.0});
    if (!r.notes.isEmpty()) {
        page.heading(QStringLiteral("Notes"));
        for (const QString &note : r.notes)
            page.row({note}, {1.0});
    }
}

void figures(Page &page, const AnalysisResult &r, const RecordingReader &reader)
{
    const QVector<RecordingShots::Shot> shots = RecordingShots::load(reader);
    const double scale = RecordingAnalysis::testVoltageScale(reader.rootAttributes());
    page.heading(QStringLiteral("Figures"));

    if (r.figureShot >= 0 && r.figureShot < shots.size() && shots.at(r.figureShot).testVoltage.isValid()) {
        const RecordingShots::Record &tv = shots.at(r.figureShot).testVoltage;
        const AnalysisResult::Shot &shot = r.shots.at(r.figureShot);
        QString error;
        const QVector<float> x = RecordingAnalysis::samples(reader, tv, scale, &error);
        int first = 0, count = 0;
        RecordingAnalysis::fitWindow(tv, shot.pluginFrequency, &first, &count);
        count = qMin(count, x.size() - first);
        Figure figure(QStringLiteral("Test voltage of shot %1 (%2)").arg(r.figureShot + 1).arg(fmt(shot.voltage, 4, 1e-3, QStringLiteral("kV"))),
                      QStringLiteral("time after the shot [ms]"), QStringLiteral("test voltage [kV]"));
        QVector<float> kv(count);
        for (int i = 0; i < count; ++i)
            kv[i] = x.at(first + i) * 1e-3f;
        figure.addSignal(QStringLiteral("measured"), kv.constData(), count, 0.0, 1e3 / tv.sampleRate, kSignal);
        if (shot.fitted) {
            DampedCosineFit::Result fit;
            fit.amplitude = shot.fitAmplitude;
            fit.frequency = shot.fitFrequency;
            fit.attenuation = shot.fitAttenuation;
            fit.phase = shot.fitPhase;
            fit.offset = shot.fitOffset;
            QPolygonF curve;
            const int step = qMax(1, count / 4000);
            for (int i = 0; i < count; i += step)
                curve.append(QPointF(i * 1e3 / tv.sampleRate, 1e-3 * DampedCosineFit::model(fit, tv.sampleRate, i)));
            figure.addCurve(QStringLiteral("least-squares fit"), curve, kFit, 1.0);
        }
        figure.showLegend();
        page.figure(figure);
    }

    if (r.figurePulse >= 0) {
        const AnalysisResult::Pulse &p = r.pulses.at(r.figurePulse);
        for (const RecordingShots::Record &record : shots.value(p.shot).pd) {
            if (p.time < record.startTime || p.time >= record.endTime())
                continue;
            QString error;
            const QVector<float> x = RecordingAnalysis::samples(reader, record, 1.0, &error);
            const double before = 1e-6, after = 2e-6;
            const int first = qBound(0, int((p.time - before - record.startTime) * record.sampleRate), x.size());
            const int last = qBound(first, int((p.echoTime + after - record.startTime) * record.sampleRate), x.size());
            Figure figure(QStringLiteral("PD pulse and its echo from the far end (site at %1)")
                              .arg(fmt(p.position, 4, 1, QStringLiteral("m"))),
                          QStringLiteral("time after the direct pulse [µs]"), QStringLiteral("PD signal [mV]"));
            QVector<float> mv(last - first);
            for (int i = first; i < last; ++i)
                mv[i - first] = x.at(i) * 1e3f;
            figure.addSignal(QStringLiteral("PD"), mv.constData(), mv.size(),
                             (record.startTime + first / record.sampleRate - p.time) * 1e6, 1e6 / record.sampleRate,
                             kSignal);
            figure.addVerticalMarker(0.0, QStringLiteral("direct"), kMarker);
            figure.addVerticalMarker((p.echoTime - p.time) * 1e6,
                                     QStringLiteral("echo, Δt = %1 µs").arg(fmt((p.echoTime - p.time) * 1e6, 4)), kMarker);
            page.figure(figure);
            break;
        }
    }

    // Without a charge factor the figures show the pulses' peaks instead.
    const bool charges = r.chargeFactor > 0;
    const auto size = [charges](const AnalysisResult::Pulse &p) { return charges ? p.charge * 1e12 : p.peak * 1e3; };
    if (r.cableLength > 0) {
        Figure map(QStringLiteral("PD map"), QStringLiteral("position along the cable [m]"),
                   charges ? QStringLiteral("apparent charge |q| [pC]") : QStringLiteral("PD peak |u| [mV]"));
        QPolygonF points;
        for (const AnalysisResult::Pulse &p : r.pulses) {
            if (p.located && std::isfinite(size(p)))
                points.append(QPointF(p.position, std::fabs(size(p))));
        }
        map.addPoints(QStringLiteral("PD"), points, kPositive, 4);
        map.addVerticalMarker(0.0, QStringLiteral("near end"), kMarker);
        map.addVerticalMarker(r.cableLength, QStringLiteral("far end"), kMarker);
        map.setXRange(-0.05 * r.cableLength, 1.1 * r.cableLength);
        double largest = 0;
        for (const QPointF &point : points)
            largest = qMax(largest, point.y());
        map.setYRange(0, largest > 0 ? 1.15 * largest : 1.0);
        page.figure(map, 0.31);
    }

    if (r.hasTestVoltage && r.hasPdChannel) {
        const bool byPhase = !r.dampedVoltage;
        Figure scatter(byPhase ? QStringLiteral("PD against the phase of the test voltage")
                               : QStringLiteral("PD against the instantaneous test voltage"),
                       byPhase ? QStringLiteral("phase [°]") : QStringLiteral("instantaneous test voltage [kV]"),
                       charges ? QStringLiteral("apparent charge q [pC]") : QStringLiteral("PD peak u [mV]"));
        QPolygonF positive, negative;
        for (const AnalysisResult::Pulse &p : r.pulses) {
            const double x = byPhase ? p.phase : p.voltage * 1e-3;
            const double y = size(p);
            if (std::isfinite(x) && std::isfinite(y))
                (y >= 0 ? positive : negative).append(QPointF(x, y));
        }
        scatter.addPoints(QStringLiteral("positive"), positive, kPositive, 4);
        scatter.addPoints(QStringLiteral("negative"), negative, kNegative, 4);
        if (byPhase)
            scatter.setXRange(0, 360);
        page.figure(scatter, 0.31);
    }
}

void shotTable(Page &page, const AnalysisResult &r)
{
    page.heading(QStringLiteral("Shots"));
    const QVector<double> columns{0.05, 0.08, 0.14, 0.1, 0.1, 0.09, 0.12, 0.09, 0.08, 0.15};
    page.row({QStringLiteral("shot"), QStringLiteral("voltage"), QStringLiteral("f fit"), QStringLiteral("δ fit"),
              QStringLiteral("δ plug-in"), QStringLiteral("tan δ fit"), QStringLiteral("tan δ plug-in"),
              QStringLiteral("iterations"), QStringLiteral("pulses"), QStringLiteral("largest")},
             columns, true);
    for (int i = 0; i < r.shots.size(); ++i) {
        const AnalysisResult::Shot &s = r.shots.at(i);
        page.row({QString::number(i + 1), fmt(s.voltage, 4, 1e-3, QStringLiteral("kV")),
                  fmt(s.fitFrequency, 7, 1, QStringLiteral("Hz")), fmt(s.fitAttenuation, 6, 1, QStringLiteral("/s")),
                  fmt(s.pluginAttenuation, 6, 1, QStringLiteral("/s")), fmt(s.tanDelta, 4),
                  fmt(s.pluginTanDelta, 4), QString::number(s.fitIterations), QString::number(s.pulses),
                  fmt(s.largestCharge, 4, 1e12, QStringLiteral("pC"))},
                 columns);
    }
}

} // namespace

bool ReportDocument::write(const AnalysisResult &result, const RecordingReader &reader, const QString &path,
                           QString *error)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("PD test report: %1").arg(QFileInfo(result.file).fileName()));
    writer.setCreator(QStringLiteral("dravik-host report"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    Page page(&writer, &painter);
    summary(page, result);
    shotTable(page, result);
    writer.newPage();
    Page figurePage(&writer, &painter);
    figures(figurePage, result, reader);
    if (!painter.end()) {
        *error = QStringLiteral("cannot finish %1").arg(path);
        return false;
    }
    return true;
}
