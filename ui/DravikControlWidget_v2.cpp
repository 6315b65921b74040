#include "DravikControlWidget_v2.h"

#include "ui_DravikControlWidget_v2.h"

#include <QDebug>
#include <QLocale>

#include <algorithm>

namespace {
enum ParameterId {
    MeasurementState = 1010,
    Trigger1Source = 1048,
    GainPdBandwidthValue = 1084,
    UserCharge = 2000,
    UserMeasurementMode = 2002,
    TriggerLevelByCharge = 2007,
    TriggerLevelRelative = 2008,
    ExpertMode = 2010
};

// The trigger level widget only makes sense for the charge trigger source.
constexpr int kChargeTriggerSource = 13;
constexpr int kPdMeasurementMode = 1;
} // namespace

DravikControlWidget_v2::DravikControlWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                                               QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent)
    : DravikBaseWidget_v2(std::move(userContainer), std::move(deviceContainer), parent)
    , ui(new Ui::DravikControlWidget_v2)
{
    ui->setupUi(this);
    ui->groupBandwidth->setId(ui->radioLowBandwidth, 0);
    ui->groupBandwidth->setId(ui->radioHighBandwidth, 1);
    connect(ui->groupBandwidth, &QButtonGroup::idClicked, this, &DravikControlWidget_v2::onGrpBandwidthValueChanged);

    for (double charge : {1e-10, 1e-9, 1e-8, 1e-7})
        ui->comboQRange->addItem(formatCharge(charge), charge);

    m_combos.insert(UserCharge, ui->comboQRange);
    connectComboTable();

    // The captions share one column, wide enough for a localisation level,
    // so that combo, slider and bar start at the same place.
    const QFontMetrics metrics = ui->lblChargeTriggerRelative->fontMetrics();
    int captionWidth = 0;
    for (const QString &text : {tr("Localisation level %1pC").arg(QLocale().toString(1000.0, 'f', 0)),
                                tr("Localisation level %1nC").arg(QLocale().toString(10.0, 'f', 1))})
        captionWidth = std::max(captionWidth, metrics.horizontalAdvance(text));
    for (QWidget *caption : {ui->lblQRange, ui->lblChargeTriggerRelative, ui->lblBandwidth, ui->lblState})
        caption->setMinimumWidth(std::max(caption->minimumWidth(), captionWidth));

    m_stateSteps = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 5}, {6, 5}, {7, 4}};
    const QList<int> steps = m_stateSteps.values();
    ui->progressState->setRange(*std::min_element(steps.begin(), steps.end()),
                                *std::max_element(steps.begin(), steps.end()));
    refreshAll();
}

DravikControlWidget_v2::~DravikControlWidget_v2() = default;

void DravikControlWidget_v2::onDeviceConnected()
{
    ui->stackedWidget->setCurrentWidget(ui->pageConnected);
}

void DravikControlWidget_v2::onDeviceDisconnected(int status)
{
    Q_UNUSED(status);
    ui->stackedWidget->setCurrentWidget(ui->pageNotConnected);
}

void DravikControlWidget_v2::refresh(int id)
{
    const QVariant value = parameter(id);
    switch (id) {
    case UserMeasurementMode: {
        const bool pd = value.toInt() == kPdMeasurementMode;
        ui->widgetBandwidth->setVisible(pd);
        ui->widgetQRange->setVisible(!pd);
        break;
    }
    case MeasurementState:
        refreshStateBar(value.toInt());
        break;
    case Trigger1Source:
        ui->widgetTriggerLevel->setVisible(value.toInt() == kChargeTriggerSource);
        break;
    case GainPdBandwidthValue:
        showBandwidth(ui->groupBandwidth, value.toDouble());
        break;
    case TriggerLevelByCharge:
        refreshChargeTrigger();
        break;
    case TriggerLevelRelative: {
        const QSignalBlocker blocker(ui->sliderChargeTriggerRelative);
        ui->sliderChargeTriggerRelative->setValue(value.toInt());
        break;
    }
    case ExpertMode:
        ui->widgetParameters->setEnabled(!value.toBool());
        break;
    default:
        break;
    }
    if (ComboBox *combo = m_combos.value(id)) {
        selectComboValue(combo, value);
        // The localisation level is written in the unit of the charge range.
        if (id == UserCharge)
            refreshChargeTrigger();
    }
}

void DravikControlWidget_v2::refreshStateBar(int state)
{
    ui->progressState->setFormat(m_stateTexts.contains(state) ? m_stateTexts.value(state) : tr("undefined"));
    ui->progressState->setValue(m_stateSteps.value(state, 0));
}

void DravikControlWidget_v2::refreshChargeTrigger()
{
    const QVariant chargeValue = parameter(UserCharge);
    bool ok = false;
    const double charge = chargeValue.toDouble(&ok);
    if (!chargeValue.isValid() || !ok)
        return;
    const int decimals = fuzzyEqual(charge, 1e-8) ? 1 : 0;
    double level = parameter(TriggerLevelByCharge).toDouble();
    QString text;
    if (charge <= 1e-9) {
        level *= 1000.0;
        text = tr("Localisation level %1pC");
    } else {
        text = tr("Localisation level %1nC");
    }
    ui->lblChargeTriggerRelative->setText(text.arg(QLocale().toString(level, 'f', decimals)));
}

void DravikControlWidget_v2::selectComboValue(ComboBox *combo, const QVariant &value)
{
    bool ok = false;
    const double wanted = value.toDouble(&ok);
    if (ok && value.isValid()) {
        for (int i = 0; i < combo->count(); ++i) {
            if (fuzzyEqual(combo->itemData(i).toDouble(), wanted)) {
                combo->setCurrentIndex(i);
                return;
            }
        }
        combo->addItem(formatCharge(wanted), wanted);
        combo->setCurrentIndex(combo->count() - 1);
        return;
    }
    qDebug() << "[DRAVIK.UI]:" << "unable to set charge value" << value;
}

void DravikControlWidget_v2::onSetMeasurementStates(QHash<int, QString> states)
{
    m_stateTexts = states;
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        refreshStateBar(it.key());
    updateParameter(MeasurementState, 0);
}

void DravikControlWidget_v2::onStarted()
{
}

void DravikControlWidget_v2::onReady(bool ready)
{
    Q_UNUSED(ready);
}

void DravikControlWidget_v2::onStopped()
{
}

void DravikControlWidget_v2::on_sliderChargeTriggerRelative_valueChanged(int value)
{
    setParameter(TriggerLevelRelative, value);
}
