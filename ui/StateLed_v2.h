#pragma once

#include <QWidget>

// One state LED: green when on, red when off.
class StateLed_v2 : public QWidget
{
    Q_OBJECT

public:
    explicit StateLed_v2(QWidget *parent = nullptr);

    bool isOn() const { return m_on; }
    void setOn(bool on);
    QSize sizeHint() const override { return QSize(12, 12); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_on = false;
};
