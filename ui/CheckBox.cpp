#include "CheckBox.h"

#include "ControlStyle.h"

#include <QEvent>
#include <QPainter>

CheckBox::CheckBox(QWidget *parent)
    : CheckBox(QString(), parent)
{
}

CheckBox::CheckBox(const QString &text, QWidget *parent)
    : QCheckBox(text, parent)
{
    setStyleSheet(QStringLiteral("QCheckBox::indicator { background-color: transparent; }"));
    recolour();
}

void CheckBox::setRecolourIcon(bool recolour)
{
    m_recolourIcon = recolour;
    this->recolour();
}

void CheckBox::setIcon(const QIcon &icon)
{
    m_icon = icon;
    recolour();
}

QRect CheckBox::indicatorRect() const
{
    const int side = qMin(height() - 2, 32);
    int x = layoutDirection() == Qt::RightToLeft ? width() - side - 2 : 2;
    int y = (height() - side) / 2 + 1;
    return QRect(qMax(x, 0), qMax(y, 0), side, side);
}

void CheckBox::paintEvent(QPaintEvent *event)
{
    QCheckBox::paintEvent(event);
    QPainter painter(this);
    m_indicator.paint(painter, this, indicatorRect());
}

void CheckBox::changeEvent(QEvent *event)
{
    QCheckBox::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        recolour();
}

void CheckBox::recolour()
{
    if (!m_icon.isNull()) {
        const QColor color = palette().color(QPalette::ButtonText);
        QCheckBox::setIcon(m_recolourIcon ? ControlStyle::tinted(m_icon, color) : m_icon);
    }
    m_indicator.recolour(this);
    update();
}
