#include "IndicatorImages.h"

#include "ControlStyle.h"

#include <QAbstractButton>
#include <QPainter>

void IndicatorImages::recolour(const QAbstractButton *button)
{
    const QColor color = button->palette().color(QPalette::ButtonText);
    m_checked = ControlStyle::tintedResource(QStringLiteral(":/icons/default/misc/checkbox_checked.png"), color);
    m_unchecked = ControlStyle::tintedResource(QStringLiteral(":/icons/default/misc/checkbox_unchecked.png"), color);
}

void IndicatorImages::paint(QPainter &painter, const QAbstractButton *button, const QRect &square) const
{
    const QPixmap &image = button->isChecked() ? m_checked : m_unchecked;
    if (image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(square, image);
}
