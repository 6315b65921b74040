#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

class StateLed_v2;

// A row (or column) of state LEDs driven by a bit mask: LED i shows bit i.
class StateLedWidget_v2 : public QWidget
{
    Q_OBJECT

public:
    StateLedWidget_v2(int count, bool horizontal, const QString &caption, const QStringList &ledToolTips,
                      bool withLabel, QWidget *parent = nullptr);

    quint32 state() const { return m_state; }
    QList<StateLed_v2 *> leds() const { return m_leds; }

public Q_SLOTS:
    void setState(quint32 mask);

private:
    quint32 m_state = 0;
    QList<StateLed_v2 *> m_leds;
};
