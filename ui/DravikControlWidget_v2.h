#pragma once

#include "DravikBaseWidget_v2.h"

#include <QHash>
#include <QScopedPointer>

class ComboBox;

namespace Ui {
class DravikControlWidget_v2;
}

// The operator panel beside a measurement: charge range, relative charge
// trigger, PD bandwidth and the measurement state as a bar.
class DravikControlWidget_v2 : public DravikBaseWidget_v2
{
    Q_OBJECT

public:
    DravikControlWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                           QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent = nullptr);
    ~DravikControlWidget_v2() override;

public Q_SLOTS:
    void onDeviceConnected() override;
    void onDeviceDisconnected(int status) override;

    void onSetMeasurementStates(QHash<int, QString> states);
    void onStarted();
    void onReady(bool ready);
    void onStopped();

    void on_sliderChargeTriggerRelative_valueChanged(int value);

private:
    void refresh(int id) override;
    void refreshStateBar(int state);
    void refreshChargeTrigger();
    void selectComboValue(ComboBox *combo, const QVariant &value);

    QScopedPointer<Ui::DravikControlWidget_v2> ui;
    QHash<int, QString> m_stateTexts;
    QHash<int, int> m_stateSteps;
};
