#pragma once

#include <QPixmap>

class QAbstractButton;
class QPainter;
class QRect;

// The checked and unchecked indicator images of the check box and the radio
// button, tinted with the button's palette.
class IndicatorImages
{
public:
    // Reloads both images tinted with the button's current button-text colour.
    void recolour(const QAbstractButton *button);
    // Draws the image for the button's state into the square.
    void paint(QPainter &painter, const QAbstractButton *button, const QRect &square) const;

private:
    QPixmap m_checked;
    QPixmap m_unchecked;
};
