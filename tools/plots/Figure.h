#pragma once

#include <QColor>
#include <QPolygonF>
#include <QString>

#include <memory>
#include <vector>

class QPainter;
class QRectF;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotGrid;

// One technical figure drawn with Qwt: signals (decimated to the columns the
// figure is drawn with), curves, point clouds and vertical markers on linear
// axes. It does not care what the data means: the report and the live view
// fill it. render() paints it into any QPainter (a PDF page, an image); the
// widget itself can be put into a layout, and a live view gives its curves
// new points and replots it.
class Figure
{
public:
    Figure(const QString &title, const QString &xTitle, const QString &yTitle);
    ~Figure();
    Figure(const Figure &) = delete;
    Figure &operator=(const Figure &) = delete;

    // A sampled record: sample i at x0 + i dx, reduced to min/max per column.
    void addSignal(const QString &name, const float *samples, int n, double x0, double dx, const QColor &color,
                   int columns = kDefaultColumns);
    void addCurve(const QString &name, const QPolygonF &points, const QColor &color, qreal width = 1.5);
    void addPoints(const QString &name, const QPolygonF &points, const QColor &color, int size = 5);
    void addVerticalMarker(double x, const QString &label, const QColor &color);
    void setXRange(double from, double to);
    void setYRange(double from, double to);
    // A legend below the plot (off by default).
    void showLegend();

    // New points for the index-th signal, curve or point cloud added (from 0).
    void setCurve(int index, const QPolygonF &points);
    void setTitles(const QString &title, const QString &xTitle, const QString &yTitle);
    // Canvas and grid colours (white and light grey unless set): a figure on
    // a dark window.
    void setColors(const QColor &canvas, const QColor &grid);
    void replot();

    void render(QPainter *painter, const QRectF &rect) const;
    QwtPlot *plot() const { return m_plot.get(); }

    // Columns a signal is decimated to when none are given: more than the
    // width of a figure on an A4 page at 300 dpi.
    static constexpr int kDefaultColumns = 2000;

private:
    QwtPlotCurve *newCurve(const QString &name, const QPolygonF &points);

    std::unique_ptr<QwtPlot> m_plot;
    std::vector<QwtPlotCurve *> m_curves; // owned by the plot
    QwtPlotGrid *m_grid;
};
