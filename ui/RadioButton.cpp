#include "RadioButton.h"

#include "ControlStyle.h"

#include <QEvent>
#include <QPainter>

RadioButton::RadioButton(QWidget *parent)
    : RadioButton(QString(), parent)
{
}

RadioButton::RadioButton(const QString &text, QWidget *parent)
    : QRadioButton(text, parent)
{
    setStyleSheet(QStringLiteral("QRadioButton::indicator { background-color: transparent; }"));
    recolour();
}

void RadioButton::setRecolourIcon(bool recolour)
{
    m_recolourIcon = recolour;
    this->recolour();
}

void RadioButton::setIcon(const QIcon &icon)
{
    m_icon = icon;
    recolour();
}

void RadioButton::setText(const QString &text)
{
    const QKeySequence keys = shortcut();
    QRadioButton::setText(text);
    setShortcut(keys);
    setToolTip(ControlStyle::infoText(keys, text, whatsThis()));
}

QRect RadioButton::indicatorRect() const
{
    const int side = qMin(height() - 2, 32);
    return QRect(2, 2, side, side);
}

void RadioButton::paintEvent(QPaintEvent *event)
{
    QRadioButton::paintEvent(event);
    QPainter painter(this);
    m_indicator.paint(painter, this, indicatorRect());
}

void RadioButton::changeEvent(QEvent *event)
{
    QRadioButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        recolour();
}

void RadioButton::recolour()
{
    if (!m_icon.isNull()) {
        const QColor color = palette().color(QPalette::ButtonText);
        QRadioButton::setIcon(m_recolourIcon ? ControlStyle::tinted(m_icon, color) : m_icon);
    }
    m_indicator.recolour(this);
    update();
}
