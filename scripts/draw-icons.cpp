// Draws the monochrome icons of the widgets. Each is black on a transparent
// background: only the alpha matters, the controls tint them with the palette.
//
// Built and run by scripts/draw-icons; writes into the folder given as argument.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

constexpr int kSize = 64;

QPen stroke(qreal width)
{
    return QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

bool draw(const QString &path, const std::function<void(QPainter &)> &paint)
{
    QImage image(kSize, kSize, QImage::Format_ARGB32);
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
    return ok ? 0 : 1;
}
