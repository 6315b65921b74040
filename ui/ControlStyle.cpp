#include "ControlStyle.h"

#include <QPainter>
#include <QStringList>
#include <QStyle>
#include <QWidget>

static void initDravikUiResources()
{
    Q_INIT_RESOURCE(dravik_ui);
}

void ControlStyle::initResources()
{
    static const bool done = (initDravikUiResources(), true);
    Q_UNUSED(done);
}

QImage ControlStyle::tinted(const QImage &image, const QColor &color)
{
    if (image.isNull())
        return image;
    QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), color);
    painter.end();
    return result;
}

QPixmap ControlStyle::tinted(const QPixmap &pixmap, const QColor &color)
{
    if (pixmap.isNull())
        return pixmap;
    QPixmap result = QPixmap::fromImage(tinted(pixmap.toImage(), color));
    result.setDevicePixelRatio(pixmap.devicePixelRatio());
    return result;
}

QIcon ControlStyle::tinted(const QIcon &icon, const QColor &color)
{
    static const QIcon::Mode modes[] = {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected};
    static const QIcon::State states[] = {QIcon::Off, QIcon::On};
    QIcon result;
    for (const QSize &size : icon.availableSizes()) {
        for (QIcon::Mode mode : modes) {
            for (QIcon::State state : states)
                result.addPixmap(tinted(icon.pixmap(size, mode, state), color), mode, state);
        }
    }
    return result;
}

QPixmap ControlStyle::tintedResource(const QString &path, const QColor &color)
{
    initResources();
    return tinted(QPixmap(path), color);
}

QString ControlStyle::infoText(const QKeySequence &shortcut, const QString &caption, const QString &description)
{
    const QString keys = shortcut.toString(QKeySequence::NativeText);
    QStringList items;
    if (!caption.isEmpty())
        items << caption;
    if (!keys.isEmpty())
        items << keys;

    if (description.isEmpty()) {
        if (items.isEmpty())
            return QString();
        return QLatin1String("<table><tr><td>") + items.join(QLatin1String("&nbsp;&nbsp;</td><td>"))
               + QLatin1String("</td></tr></table>");
    }
    switch (items.size()) {
    case 0:
        return QLatin1String("<b align=\"justify\">") + description + QLatin1String("</b>");
    case 1:
        return QLatin1String("<big><b>") + items.first() + QLatin1String("</b></big><br><p align=\"justify\">")
               + description + QLatin1String("</p>");
    default:
        return QLatin1String("<table><tr><td><big><b>") + caption
               + QLatin1String("&nbsp;&nbsp;&nbsp;<br></b></big></td><td align=\"right\">(<big>") + keys
               + QLatin1String("</big>)</td></tr><tr><td colspan=\"2\" align=\"justify\">") + description
               + QLatin1String("</td></tr></table>");
    }
}

void ControlStyle::repolish(QWidget *widget)
{
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}
