#pragma once

#include "IndicatorImages.h"

#include <QCheckBox>
#include <QIcon>

// A check box whose indicator and icon are monochrome images tinted with the
// palette, so it follows light and dark palettes and the enabled state.
class CheckBox : public QCheckBox
{
    Q_OBJECT
    Q_PROPERTY(bool recolourIcon READ recolourIcon WRITE setRecolourIcon)

public:
    explicit CheckBox(QWidget *parent = nullptr);
    explicit CheckBox(const QString &text, QWidget *parent = nullptr);

    bool recolourIcon() const { return m_recolourIcon; }
    void setRecolourIcon(bool recolour);
    // Keeps the icon as given and shows its tinted copy.
    void setIcon(const QIcon &icon);
    // Where the indicator image goes for the current size and direction.
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
