#pragma once

#include "IndicatorImages.h"

#include <QIcon>
#include <QRadioButton>

// A radio button with the check box's tinted indicator images and an HTML
// tool tip that follows its text.
class RadioButton : public QRadioButton
{
    Q_OBJECT
    Q_PROPERTY(bool recolourIcon READ recolourIcon WRITE setRecolourIcon)

public:
    explicit RadioButton(QWidget *parent = nullptr);
    explicit RadioButton(const QString &text, QWidget *parent = nullptr);

    bool recolourIcon() const { return m_recolourIcon; }
    void setRecolourIcon(bool recolour);
    void setIcon(const QIcon &icon);
    // Sets the text without losing the shortcut and rebuilds the tool tip.
    void setText(const QString &text);
    QRect indicatorRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void recolour();

    bool m_recolourIcon = true;
    QIcon m_icon;
    IndicatorImages m_indicator;
};
