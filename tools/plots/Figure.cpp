#include "Figure.h"

#include "MinMaxDecimation.h"

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_renderer.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <QPainter>

namespace {

QwtText text(const QString &s, int pointSize, bool bold = false)
{
    QwtText t(s);
    QFont font = t.font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    t.setFont(font);
    return t;
}

} // namespace

Figure::Figure(const QString &title, const QString &xTitle, const QString &yTitle)
    : m_plot(std::make_unique<QwtPlot>())
    , m_grid(new QwtPlotGrid)
{
    setTitles(title, xTitle, yTitle);
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        QFont font = m_plot->axisFont(axis);
        font.setPointSize(7);
        m_plot->setAxisFont(axis, font);
    }
    m_plot->setCanvasBackground(Qt::white);
    m_plot->setAutoReplot(false);
    m_grid->setMajorPen(QPen(QColor(210, 210, 210), 0, Qt::DotLine));
    m_grid->attach(m_plot.get());
}

Figure::~Figure() = default;

void Figure::addSignal(const QString &name, const float *samples, int n, double x0, double dx, const QColor &color,
                       int columns)
{
    addCurve(name, MinMaxDecimation::polyline(samples, n, x0, dx, columns), color, 0.8);
}

QwtPlotCurve *Figure::newCurve(const QString &name, const QPolygonF &points)
{
    auto *curve = new QwtPlotCurve(name);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    curve->setSamples(points);
    curve->attach(m_plot.get());
    m_curves.push_back(curve);
    return curve;
}

void Figure::addCurve(const QString &name, const QPolygonF &points, const QColor &color, qreal width)
{
    newCurve(name, points)->setPen(QPen(color, width));
}

void Figure::addPoints(const QString &name, const QPolygonF &points, const QColor &color, int size)
{
    QwtPlotCurve *curve = newCurve(name, points);
    curve->setStyle(QwtPlotCurve::NoCurve);
    curve->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(color), QPen(color.darker(130), 0.5), QSize(size, size)));
}

void Figure::setCurve(int index, const QPolygonF &points)
{
    if (index >= 0 && index < int(m_curves.size()))
        m_curves[std::size_t(index)]->setSamples(points);
}

void Figure::setTitles(const QString &title, const QString &xTitle, const QString &yTitle)
{
    m_plot->setTitle(text(title, 10, true));
    m_plot->setAxisTitle(QwtPlot::xBottom, text(xTitle, 8));
    m_plot->setAxisTitle(QwtPlot::yLeft, text(yTitle, 8));
}

void Figure::setColors(const QColor &canvas, const QColor &grid)
{
    m_plot->setCanvasBackground(canvas);
    m_grid->setMajorPen(QPen(grid, 0, Qt::DotLine));
}

void Figure::replot()
{
    m_plot->replot();
}

void Figure::addVerticalMarker(double x, const QString &label, const QColor &color)
{
    auto *marker = new QwtPlotMarker;
    marker->setLineStyle(QwtPlotMarker::VLine);
    marker->setLinePen(QPen(color, 1.0, Qt::DashLine));
    marker->setXValue(x);
    marker->setLabel(text(label, 7));
    marker->setLabelAlignment(Qt::AlignRight | Qt::AlignTop);
    marker->setLabelOrientation(Qt::Horizontal);
    marker->attach(m_plot.get());
}

void Figure::setXRange(double from, double to)
{
    m_plot->setAxisScale(QwtPlot::xBottom, from, to);
}

void Figure::setYRange(double from, double to)
{
    m_plot->setAxisScale(QwtPlot::yLeft, from, to);
}

void Figure::showLegend()
{
    auto *legend = new QwtLegend;
    QFont font = legend->font();
    font.setPointSize(7);
    legend->setFont(font);
    m_plot->insertLegend(legend, QwtPlot::BottomLegend);
}

void Figure::render(QPainter *painter, const QRectF &rect) const
{
    m_plot->replot();
    QwtPlotRenderer renderer;
    renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, true);
    renderer.setDiscardFlag(QwtPlotRenderer::DiscardCanvasBackground, false);
    renderer.setLayoutFlag(QwtPlotRenderer::FrameWithScales, true);
    renderer.render(m_plot.get(), painter, rect);
}
