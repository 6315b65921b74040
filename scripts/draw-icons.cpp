// Draws the monochrome icons of the widgets. Each is black on a transparent
// background: only the alpha matters, the controls tint them with the palette.
// Also draws the device's picture, the one coloured image: what a host shows
// beside the device's name.
//
// Built and run by scripts/draw-icons: draw-icons ICON_FOLDER DEVICE_PICTURE.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kSize = 64;

QPen stroke(qreal width)
{
    return QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

bool draw(const QString &path, const std::function<void(QPainter &)> &paint, int size = kSize)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    painter.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void box(QPainter &p)
{
    p.setPen(stroke(5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(6.5, 6.5, 51, 51), 10, 10);
}

void chevron(QPainter &p, bool up)
{
    p.setPen(stroke(8));
    const qreal top = up ? 42 : 22;
    const qreal tip = up ? 20 : 44;
    p.drawPolyline(QPolygonF({QPointF(12, top), QPointF(32, tip), QPointF(52, top)}));
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("ui/icons");
    bool ok = true;

    ok &= draw(root + "/default/misc/checkbox_unchecked.png", [](QPainter &p) { box(p); });
    ok &= draw(root + "/default/misc/checkbox_checked.png", [](QPainter &p) {
        box(p);
        p.setPen(stroke(7));
        p.drawPolyline(QPolygonF({QPointF(18, 33), QPointF(28, 43), QPointF(46, 22)}));
    });
    ok &= draw(root + "/default/arrows/up.png", [](QPainter &p) { chevron(p, true); });
    ok &= draw(root + "/default/arrows/down.png", [](QPainter &p) { chevron(p, false); });
    ok &= draw(root + "/default/misc/info.png", [](QPainter &p) {
        // A filled disc with the letter cut out, so it reads at 16 pixels.
        QPainterPath disc;
        disc.addEllipse(QRectF(4, 4, 56, 56));
        QPainterPath letter;
        letter.addEllipse(QRectF(28, 13, 8, 8));
        letter.addRoundedRect(QRectF(28, 26, 8, 26), 3, 3);
        p.fillPath(disc.subtracted(letter), Qt::black);
    });
    ok &= draw(root + "/default/misc/disconnected-64.png", [](QPainter &p) {
        // A plug and a socket pulled apart, with a gap between them.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.save();
        p.translate(32, 32);
        p.rotate(-45);
        // Plug body with its two pins, left of the gap.
        p.drawRoundedRect(QRectF(-26, -9, 16, 18), 3, 3);
        p.drawRect(QRectF(-10, -6, 7, 3));
        p.drawRect(QRectF(-10, 3, 7, 3));
        // Socket body, right of the gap.
        p.drawRoundedRect(QRectF(8, -9, 16, 18), 3, 3);
        p.setPen(stroke(5));
        p.drawLine(QPointF(-26, 0), QPointF(-34, 0));
        p.drawLine(QPointF(24, 0), QPointF(32, 0));
        p.restore();
        // Sparks across the gap.
        p.setPen(stroke(3.5));
        p.drawLine(QPointF(22, 22), QPointF(27, 27));
        p.drawLine(QPointF(42, 42), QPointF(37, 37));
        p.drawLine(QPointF(14, 36), QPointF(21, 36));
        p.drawLine(QPointF(36, 14), QPointF(36, 21));
    });
    if (argc > 2) {
        // The detector: a grey case with a screen showing a damped test
        // voltage and a PD pulse on it, a status LED and two connectors.
        ok &= draw(QString::fromLocal8Bit(argv[2]), [](QPainter &p) {
            p.setPen(QPen(QColor(60, 64, 70), 3));
            p.setBrush(QColor(196, 200, 206));
            p.drawRoundedRect(QRectF(6, 22, 116, 84), 10, 10);
            p.setBrush(QColor(24, 32, 44));
            p.setPen(Qt::NoPen);
            p.drawRoundedRect(QRectF(16, 32, 70, 52), 4, 4);
            QPainterPath voltage;
            for (int i = 0; i <= 64; ++i) {
                const qreal t = i / 64.0;
                const QPointF point(19 + t * 64, 58 - 20 * std::exp(-2.2 * t) * std::cos(6.283 * 3 * t));
                if (i == 0)
                    voltage.moveTo(point);
                else
                    voltage.lineTo(point);
            }
            p.setPen(QPen(QColor(80, 170, 255), 2.5));
            p.setBrush(Qt::NoBrush);
            p.drawPath(voltage);
            p.setPen(QPen(QColor(255, 90, 70), 2.5));
            p.drawPolyline(QPolygonF({QPointF(40, 58), QPointF(43, 38), QPointF(46, 66), QPointF(49, 58)}));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(60, 200, 90));
            p.drawEllipse(QRectF(96, 34, 14, 14));
            p.setBrush(QColor(60, 64, 70));
            p.drawEllipse(QRectF(94, 60, 18, 18));
            p.drawRect(QRectF(30, 106, 12, 12));
            p.drawRect(QRectF(86, 106, 12, 12));
        }, 128);
    }
    return ok ? 0 : 1;
}
