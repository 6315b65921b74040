#include "StateLed_v2.h"

#include <QPaintEvent>
#include <QPainter>

StateLed_v2::StateLed_v2(QWidget *parent)
    : QWidget(parent)
{
    // A lamp keeps its size; layouts must not squash it into a line.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StateLed_v2::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    update();
}

void StateLed_v2::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (m_on)
        painter.fillRect(rect(), Qt::green);
    else
        painter.fillRect(event->rect(), Qt::red);
}
