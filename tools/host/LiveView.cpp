#include "LiveView.h"

#include "DeviceInterface.h"
#include "Figure.h"
#include "MinMaxDecimation.h"

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <cmath>

namespace {

const int kFrequency = 2013;
const int kTestVoltage = 2014;
const int kAttenuation = 2015;
// Channels ticked at first: the test voltage and the PD channel.
const int kRoleTestVoltage = 3;
const int kRolePd = 1;
const int kRoleCharge = 2;
// A PD pulse stands this many times above the noise of its record.
const double kPulseFactor = 8.0;
const int kMinimumColumns = 100;

// The power of 1000 that brings magnitude into [1, 1000), from atto to exa.
int prefixExponent(double magnitude)
{
    if (!(magnitude > 0) || !std::isfinite(magnitude))
        return 0;
    const int e = int(std::floor(std::log10(magnitude) / 3.0)) * 3;
    return std::clamp(e, -18, 18);
}

QString prefixName(int exponent)
{
    static const char *const names[] = {"a", "f", "p", "n", "\u00b5", "m", "", "k", "M", "G", "T", "P", "E"};
    return QString::fromUtf8(names[exponent / 3 + 6]);
}

// Units a prefix reads well in front of; others ("1/s") stay as they are.
bool takesPrefix(const QString &unit)
{
    return unit == QLatin1String("V") || unit == QLatin1String("C") || unit == QLatin1String("Hz")
           || unit == QLatin1String("s");
}

QString withUnit(double value, const QString &unit)
{
    if (!std::isfinite(value))
        return QStringLiteral("not measured");
    const int e = takesPrefix(unit) ? prefixExponent(std::abs(value)) : 0;
    return QStringLiteral("%1 %2%3").arg(value / std::pow(10.0, e), 0, 'g', 4).arg(prefixName(e), unit).trimmed();
}

double triggerOf(const ChannelData &chunk, bool *found)
{
    for (const ChannelData::Marker &marker : chunk.markers) {
        if (marker.kind == ChannelData::MarkerTrigger) {
            *found = true;
            return marker.time;
        }
    }
    *found = false;
    return chunk.startTime;
}

struct Pulses
{
    QPolygonF points;
    double largest = 0;
};

// PD pulses in a record reduced to columns: every run of columns whose
// extreme stands kPulseFactor times above the noise counts once, at its
// largest magnitude. The noise is the median half-range of the columns,
// which the few columns with a pulse hardly move. Cheap enough for every
// redraw: it looks at the columns, not at the millions of samples.
Pulses pulsesOf(const QVector<MinMaxDecimation::Column> &columns, int n, double x0, double dx)
{
    Pulses result;
    QVector<float> halfRanges;
    halfRanges.reserve(columns.size());
    for (const MinMaxDecimation::Column &c : columns) {
        if (!std::isnan(c.minimum))
            halfRanges.append(0.5f * (c.maximum - c.minimum));
    }
    if (halfRanges.isEmpty())
        return result;
    auto middle = halfRanges.begin() + halfRanges.size() / 2;
    std::nth_element(halfRanges.begin(), middle, halfRanges.end());
    const double threshold = kPulseFactor * std::max(double(*middle), 1e-12);
    const int count = columns.size();
    int best = -1;
    double bestValue = 0;
    for (int c = 0; c <= count; ++c) {
        double value = 0;
        if (c < count && !std::isnan(columns[c].minimum))
            value = std::abs(columns[c].maximum) >= std::abs(columns[c].minimum) ? columns[c].maximum
                                                                                  : columns[c].minimum;
        if (c < count && std::abs(value) > threshold) {
            if (best < 0 || std::abs(value) > std::abs(bestValue)) {
                best = c;
                bestValue = value;
            }
            continue;
        }
        if (best >= 0) {
            result.points.append(QPointF(MinMaxDecimation::columnX(best, n, count, x0, dx), bestValue));
            result.largest = std::max(result.largest, std::abs(bestValue));
            best = -1;
        }
    }
    return result;
}

QColor curveColor(int role, bool dark)
{
    switch (role) {
    case kRoleTestVoltage:
        return dark ? QColor(0x6c, 0xb4, 0xee) : QColor(0x1f, 0x5f, 0xa8);
    case kRolePd:
        return dark ? QColor(0xff, 0xa0, 0x4a) : QColor(0xd0, 0x5a, 0x00);
    case kRoleCharge:
        return dark ? QColor(0x7c, 0xd9, 0x7c) : QColor(0x2a, 0x8a, 0x2a);
    default:
        return dark ? QColor(0xd0, 0xa0, 0xf0) : QColor(0x70, 0x40, 0x90);
    }
}

} // namespace

LiveView::LiveView(QWidget *parent)
    : QWidget(parent)
    , m_channels(new QListWidget)
    , m_plots(new QVBoxLayout)
    , m_placeholder(new QLabel(QStringLiteral("Tick a channel to see its latest chunk.")))
    , m_counts(new QLabel)
{
    auto *layout = new QHBoxLayout(this);
    auto *side = new QVBoxLayout;
    side->addWidget(new QLabel(QStringLiteral("Channels")));
    m_channels->setObjectName(QStringLiteral("liveChannels"));
    m_channels->setMaximumWidth(250);
    m_channels->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    side->addWidget(m_channels, 1);
    layout->addLayout(side);

    auto *main = new QVBoxLayout;
    auto *readouts = new QHBoxLayout;
    for (int id : {kFrequency, kTestVoltage, kAttenuation}) {
        auto *label = new QLabel;
        label->setObjectName(QStringLiteral("readout%1").arg(id));
        label->setTextFormat(Qt::RichText);
        m_readouts.insert(id, label);
        readouts->addWidget(label);
    }
    readouts->addStretch(1);
    main->addLayout(readouts);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_plots->addWidget(m_placeholder);
    // Many ticked channels scroll rather than grow the window.
    auto *plots = new QWidget;
    plots->setLayout(m_plots);
    m_plots->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(plots);
    main->addWidget(scroll, 1);
    m_counts->setObjectName(QStringLiteral("liveCounts"));
    // Long texts must not widen the window.
    m_counts->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    main->addWidget(m_counts);
    layout->addLayout(main, 1);

    connect(m_channels, &QListWidget::itemChanged, this, &LiveView::onItemChanged);
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &LiveView::redraw);
    m_redraw.start();
    clearReadouts();
}

// The figures go first: their plots sit in this widget's layout.
LiveView::~LiveView() = default;

void LiveView::setDevice(DeviceInterface *device)
{
    m_device = device;
    m_channels->clear();
    m_info.clear();
    QList<int> first;
    QList<int> ids = device->channelIds();
    std::sort(ids.begin(), ids.end());
    QSignalBlocker blocker(m_channels);
    for (int id : ids) {
        ChannelInfo info;
        if (!device->channelInfo(id, info))
            continue;
        m_info.insert(id, info);
        auto *item = new QListWidgetItem(QStringLiteral("%1  %2").arg(id).arg(info.name), m_channels);
        item->setData(Qt::UserRole, id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        if (info.roleCode == kRoleTestVoltage || info.roleCode == kRolePd)
            first.append(id);
    }
    blocker.unblock();
    for (int id : qAsConst(first))
        setChannelTicked(id, true);
    clearReadouts();
}

void LiveView::setChannelTicked(int channelId, bool ticked)
{
    for (int row = 0; row < m_channels->count(); ++row) {
        QListWidgetItem *item = m_channels->item(row);
        if (item->data(Qt::UserRole).toInt() == channelId)
            item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked); // onItemChanged does the rest
    }
}

QList<int> LiveView::tickedChannels() const
{
    QList<int> ids;
    for (const auto &entry : m_ticked)
        ids.append(entry.first);
    return ids;
}

bool LiveView::hasDrawnAll() const
{
    return !m_ticked.empty()
           && std::all_of(m_ticked.begin(), m_ticked.end(), [](const auto &entry) { return entry.second.everDrawn; });
}

void LiveView::onItemChanged(QListWidgetItem *item)
{
    const int id = item->data(Qt::UserRole).toInt();
    const bool ticked = item->checkState() == Qt::Checked;
    if (ticked && m_ticked.find(id) == m_ticked.end()) {
        addPlot(id);
    } else if (!ticked) {
        m_ticked.erase(id);
    }
    m_placeholder->setVisible(m_ticked.empty());
}

void LiveView::addPlot(int channelId)
{
    const ChannelInfo info = m_info.value(channelId);
    Plot &plot = m_ticked[channelId];
    plot.info = info;
    plot.figure = std::make_unique<Figure>(QStringLiteral("%1 (%2)").arg(info.name).arg(channelId),
                                           QStringLiteral("time from the trigger"), info.unit);
    const bool dark = isDark();
    plot.figure->addCurve(info.name, QPolygonF(), curveColor(info.roleCode, dark), 1.0);
    if (info.roleCode == kRolePd)
        plot.figure->addPoints(QStringLiteral("pulses"), QPolygonF(), dark ? QColor(0xff, 0x6b, 0x6b) : Qt::red, 7);
    plot.figure->addVerticalMarker(0.0, QStringLiteral("trigger"), palette().color(QPalette::Mid));
    QwtPlot *widget = plot.figure->plot();
    widget->setMinimumHeight(160);
    // In id order, after the placeholder.
    const int index = int(std::distance(m_ticked.begin(), m_ticked.find(channelId)));
    m_plots->insertWidget(index + 1, widget, 1);
    applyColors();
}

void LiveView::showChunk(int channelId, const ChannelData &chunk, const ChannelInfo &info)
{
    auto it = m_ticked.find(channelId);
    if (it == m_ticked.end() || chunk.isEmpty())
        return;
    Plot &plot = it->second;
    // Only the latest counts: one not drawn yet is stale now.
    if (plot.pending)
        ++m_chunksDropped;
    plot.chunk = chunk;
    plot.info = info;
    plot.pending = true;
}

void LiveView::redraw()
{
    if (!isVisible())
        return;
    int channels = 0;
    for (auto &entry : m_ticked) {
        Plot &plot = entry.second;
        const bool resized = plot.everDrawn && plot.figure->plot()->canvas()->width() != plot.width;
        if (!plot.pending && !resized)
            continue;
        if (plot.pending) {
            ++m_chunksDrawn;
            ++channels;
        }
        draw(entry.first, plot);
    }
    if (channels == 0)
        return;
    m_counts->setText(QStringLiteral("%1 chunks drawn, %2 dropped (a newer one came before they were drawn); "
                                     "redrawn at most every %3 ms")
                          .arg(m_chunksDrawn)
                          .arg(m_chunksDropped)
                          .arg(kRedrawMs));
    Q_EMIT drawn(channels);
}

void LiveView::draw(int channelId, Plot &plot)
{
    plot.pending = false;
    const ChannelData &chunk = plot.chunk;
    const double rate = plot.info.sampleRate;
    const bool isFloat = chunk.dataType == ChannelData::DataTypeFloat;
    if (chunk.isEmpty() || !(rate > 0) || (!isFloat && chunk.dataType != ChannelData::DataTypeBinary))
        return;
    const int n = isFloat ? chunk.data->size() / 4 : chunk.data->size();
    plot.width = plot.figure->plot()->canvas()->width();
    const int width = std::max(plot.width, kMinimumColumns);
    // The samples are little-endian floats, as on every machine this runs on.
    const QVector<MinMaxDecimation::Column> columns =
        isFloat ? MinMaxDecimation::columns(reinterpret_cast<const float *>(chunk.data->constData()), n, width)
                : MinMaxDecimation::columns(reinterpret_cast<const quint8 *>(chunk.data->constData()), n, width);

    bool hasTrigger = false;
    const double trigger = triggerOf(chunk, &hasTrigger);
    const int timeExponent = std::min(0, prefixExponent(n / rate));
    const double timeScale = std::pow(10.0, -timeExponent);
    const double x0 = (chunk.startTime - trigger) * timeScale;
    const double dx = timeScale / rate;

    float largest = 0;
    for (const MinMaxDecimation::Column &c : columns) {
        if (!std::isnan(c.minimum))
            largest = std::max({largest, std::abs(c.minimum), std::abs(c.maximum)});
    }
    const QString &unit = plot.info.unit;
    const int valueExponent = takesPrefix(unit) ? prefixExponent(largest) : 0;
    const double valueScale = std::pow(10.0, -valueExponent);

    QPolygonF line = MinMaxDecimation::polyline(columns, n, x0, dx);
    for (QPointF &p : line)
        p.setY(p.y() * valueScale);
    plot.figure->setCurve(0, line);

    QString title = QStringLiteral("%1 (%2)").arg(plot.info.name).arg(channelId);
    if (plot.info.roleCode == kRolePd) {
        Pulses pulses = pulsesOf(columns, n, x0, dx);
        for (QPointF &p : pulses.points)
            p.setY(p.y() * valueScale);
        plot.figure->setCurve(1, pulses.points);
        title += pulses.points.isEmpty()
                     ? QStringLiteral(": no pulse")
                     : QStringLiteral(": %1 pulse(s), largest %2")
                           .arg(pulses.points.size())
                           .arg(withUnit(pulses.largest, unit));
    }
    const QString seconds = prefixName(timeExponent) + QStringLiteral("s");
    plot.figure->setTitles(title,
                           hasTrigger ? QStringLiteral("time from the trigger [%1]").arg(seconds)
                                      : QStringLiteral("time from the chunk start [%1] (no trigger)").arg(seconds),
                           unit.isEmpty() ? QStringLiteral("amplitude")
                                          : QStringLiteral("[%1%2]").arg(prefixName(valueExponent), unit));
    plot.figure->replot();
    plot.everDrawn = true;
}

void LiveView::onParameterChanged(QList<int> parameterIds)
{
    if (!m_device)
        return;
    for (int id : parameterIds) {
        QLabel *label = m_readouts.value(id);
        ParameterInfo info;
        if (!label || !m_device->parameterInfo(id, info))
            continue;
        bool isNumber = false;
        const double value = m_device->value(id).toDouble(&isNumber);
        label->setText(QStringLiteral("%1: <b>%2</b>")
                           .arg(info.name.toHtmlEscaped(),
                                isNumber ? withUnit(value, info.unit).toHtmlEscaped() : QStringLiteral("not measured")));
    }
}

void LiveView::clearReadouts()
{
    for (auto it = m_readouts.begin(); it != m_readouts.end(); ++it) {
        ParameterInfo info;
        const bool offered = m_device && m_device->parameterInfo(it.key(), info);
        it.value()->setVisible(offered);
        if (offered)
            it.value()->setText(QStringLiteral("%1: <b>\u2014</b>").arg(info.name.toHtmlEscaped()));
    }
}

QString LiveView::readout(int id) const
{
    const QLabel *label = m_readouts.value(id);
    return label ? label->text() : QString();
}

void LiveView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    redraw();
}

void LiveView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

bool LiveView::isDark() const
{
    return palette().color(QPalette::Window).lightness() < 128;
}

void LiveView::applyColors()
{
    // The check boxes of the list take their outline from the window colour;
    // on a dark window they would vanish into the list.
    QPalette list = palette();
    if (isDark())
        list.setColor(QPalette::Window, palette().color(QPalette::Mid));
    m_channels->setPalette(list);
    const QColor canvas = palette().color(QPalette::Base);
    const QColor grid = isDark() ? palette().color(QPalette::Mid) : QColor(210, 210, 210);
    for (auto &entry : m_ticked) {
        entry.second.figure->setColors(canvas, grid);
        entry.second.figure->replot();
    }
}
