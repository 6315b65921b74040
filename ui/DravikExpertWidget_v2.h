#pragma once

#include "DravikBaseWidget_v2.h"

#include <QList>
#include <QPair>
#include <QScopedPointer>
#include <QVector>

class QSlider;
class Label;
class StateLedWidget_v2;

namespace Ui {
class DravikExpertWidget_v2;
}

// The detector's hardware settings one by one: gains, bandwidths, gating,
// triggers, acquisition timings per channel, the muxer, ADC inversion and
// clock, the ADC filters, fan control, temperatures, device information and
// ADC statistics, with the state of every acquisition channel as LEDs.
// Every control mirrors one device parameter and writes it back.
class DravikExpertWidget_v2 : public DravikBaseWidget_v2
{
    Q_OBJECT

public:
    DravikExpertWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                          QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent = nullptr);
    ~DravikExpertWidget_v2() override;

    // The 1-2-5 series (1, 2, 5, 10, 20, 50 ...) within [minimum, maximum].
    static QList<quint64> series125(quint64 minimum, quint64 maximum);
    // Nanoseconds as "10 ms", "5 ks", "-500 µs".
    static QString formatTime(double nanoseconds);
    // The LED row of an acquisition channel (0 muxer ... 4 charge 2).
    StateLedWidget_v2 *channelStateLeds(int channel) const { return m_channelLeds.value(channel); }

Q_SIGNALS:
    void resetToDefault();

public Q_SLOTS:
    void onSetTriggerSources(QList<QPair<int, QString>> sources);
    void onChkboxPowerExtGainClicked();
    void onChkboxClockSourceClicked();
    void onSliderPdGainValueChanged();
    void onChkboxMutexGatingClicked();
    void onChkboxMutexDualModeClicked();
    void onChkboxGainCompensationClicked();
    void onChkboxAdc0InvertClicked();
    void onChkboxAdc1InvertClicked();
    void onChkboxAdc2InvertClicked();
    void onChkboxAdc3InvertClicked();
    void onSliderSystemGatingGainValueChanged();
    void onSliderUserGatingGainValueChanged();
    void onCheckBoxExpertModeToggled();
    void onGroupGatingSystemClicked();
    void onGroupGatingUserClicked();
    void onCheckDigitalGating0Clicked();
    void onCheckDigitalGating1Clicked();

    void onSpinboxAdc0Lowpass0UpperEditingFinished();
    void onSpinboxAdc0Lowpass1UpperEditingFinished();
    void onSpinboxAdc0Highpass0LowerEditingFinished();
    void onSpinboxAdc0Highpass1LowerEditingFinished();
    void onSpinboxAdc0BandpassLowerEditingFinished();
    void onSpinboxAdc0BandpassUpperEditingFinished();
    void onSpinboxAdc1Lowpass0UpperEditingFinished();
    void onSpinboxAdc1Lowpass1UpperEditingFinished();
    void onSpinboxAdc1Highpass0LowerEditingFinished();
    void onSpinboxAdc1Highpass1LowerEditingFinished();
    void onSpinboxAdc1BandpassLowerEditingFinished();
    void onSpinboxAdc1BandpassUpperEditingFinished();
    void onSpinboxAdc2Lowpass0UpperEditingFinished();
    void onSpinboxAdc2Lowpass1UpperEditingFinished();
    void onSpinboxAdc2Highpass0LowerEditingFinished();
    void onSpinboxAdc2Highpass1LowerEditingFinished();
    void onSpinboxAdc2BandpassLowerEditingFinished();
    void onSpinboxAdc2BandpassUpperEditingFinished();

private:
    // A filter spin box: its parameter and which list element it edits.
    struct FilterControl
    {
        DoubleSpinBox *spinBox = nullptr;
        int id = 0;
        int element = 0; // 0 lower, 1 upper
    };
    // A gain slider with its levels list, its value and its label.
    struct GainSlider
    {
        QSlider *slider = nullptr;
        Label *label = nullptr; // its own setText, which survives palette changes
        int levelsId = 0;
        int valueId = 0;
    };

    void buildTables();
    void setUpTimingCombos();
    void setUpFilters();
    void setUpChannelLeds();
    void refresh(int id) override;
    void refreshTimingCombo(ComboBox *combo, const QVariant &value);
    void refreshGainSlider(const GainSlider &gain);
    void refreshFilter(int id);
    void writeGainSlider(const GainSlider &gain);
    void writeFilter(int index);
    void selectItemWithData(ComboBox *combo, const QVariant &value);
    void fillTimeCombo(ComboBox *combo, const QVariantList &values);
    bool isSignedTime(ComboBox *combo) const { return m_signedTimeCombos.contains(combo); }

    QScopedPointer<Ui::DravikExpertWidget_v2> ui;
    QHash<int, StateLedWidget_v2 *> m_channelLeds;
    QVector<FilterControl> m_filters;
    QVector<GainSlider> m_gainSliders;
    // Periods parameter → the period combos of that channel's timing row.
    QHash<int, QList<ComboBox *>> m_timingRows;
    // Period combos whose times may be negative (the pre-trigger).
    QList<ComboBox *> m_signedTimeCombos;
};
