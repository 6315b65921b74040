#include "DravikExpertWidget_v2.h"

#include "CheckBox.h"
#include "ComboBox.h"
#include "DoubleSpinBox.h"
#include "Label.h"
#include "ParameterText.h"
#include "SiPrefixHelper.h"
#include "StateLedWidget_v2.h"
#include "ui_DravikExpertWidget_v2.h"

#include <QDebug>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {
enum ParameterId {
    DeviceSoftwareVersion = 1006,
    DeviceHardwareVersion = 1007,
    DeviceFirmwareVersion = 1008,
    ChannelStateMuxer = 1011,
    ChannelStateCharge2 = 1015,
    Trigger0Source = 1043,
    Trigger0Level = 1044,
    Trigger0Holdtime = 1045,
    Trigger1Source = 1048,
    Trigger1Level = 1049,
    Trigger1Holdtime = 1050,
    FilterAdc0Lowpass0 = 1053,
    FilterAdc2Bandpass = 1069,
    GainSystemGatingLevels = 1071,
    GainSystemGatingValue = 1072,
    GainUserGatingLevels = 1074,
    GainUserGatingValue = 1075,
    GainTestVoltageValue = 1078,
    GainPdLevels = 1080,
    GainPdValue = 1081,
    GainPdBandwidthValue = 1084,
    GainPdRemotePowerValue = 1087,
    GainClockSourceValue = 1090,
    GainSystemGatingBandwidthValue = 1093,
    GainUserGatingBandwidthValue = 1096,
    GatingSystemActivation = 1098,
    GatingSystemLevel = 1099,
    GatingSystemHoldtime = 1100,
    GatingUserActivation = 1101,
    GatingUserLevel = 1102,
    GatingUserHoldtime = 1103,
    GatingDigital0Activation = 1104,
    GatingDigital1Activation = 1105,
    MuxerChannel0 = 1111,
    MuxerChannel1 = 1112,
    MuxerDualChannelEnable = 1113,
    MuxerGatingEnable = 1114,
    DeviceConfigInfoString = 1122,
    Adc0Invert = 1126,
    Adc3Invert = 1129,
    DigitalChannel0HoldTime = 1134,
    DigitalChannel1HoldTime = 1139,
    FanControlMinTemperature = 1180,
    StatisticsMin = 1186,
    StatisticsRms = 1189,
    UserEnableGainCompensation = 2004,
    TriggerLevelByCharge = 2007,
    ExpertMode = 2010
};

// One acquisition channel's row on the timings page: object-name key, the
// periods parameter and the four period parameters.
struct TimingRow
{
    const char *key;
    const char *name;
    int periods;
    int sample;
    int frame;
    int pretrigger;
    int timeout;
};

const TimingRow kTimingRows[] = {
    {"Muxer", QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Muxer"), 1019, 1017, 1018, 1020, 1021},
    {"TestVoltage", QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Test voltage"), 1024, 1022, 1023, 1025, 1026},
    {"Charge0", QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 0"), 1029, 1027, 1028, 1030, 1031},
    {"Charge1", QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 1"), 1034, 1032, 1033, 1035, 1036},
    {"Charge2", QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 2"), 1039, 1037, 1038, 1040, 1041},
};

const char *const kSignalSources[] = {
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "PD raw"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "User gating raw"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "System gating raw"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Test voltage raw"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "PD filtered"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "User gating filtered"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "System gating filtered"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 0 filtered"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 1 filtered"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 2 filtered"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 0 peak"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 1 peak"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 2 peak"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 0 with gating"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 1 with gating"),
    QT_TRANSLATE_NOOP("DravikExpertWidget_v2", "Charge 2 with gating"),
};

// Pre-filled period choices, in nanoseconds.
constexpr quint64 kMillisecond = 1000000;
constexpr quint64 kMaxSamplePeriod = 5400000000000ULL;
constexpr quint64 kMaxFramePeriod = 2000000000ULL;
constexpr quint64 kMaxTimeoutPeriod = 10000000000ULL;
const qint64 kPretriggerPeriods[] = {-2000000, -1000000, -500000, 0, 500000, 1000000, 2000000};

// The filter spin boxes of one ADC, in the order of their parameters: the
// object-name part, the parameter offset from the ADC's first filter, the
// list element edited (0 lower, 1 upper) and the range in kHz.
struct FilterSlot
{
    const char *name;
    int offset;
    int element;
    int minimum;
    int maximum;
};
const FilterSlot kFilterSlots[] = {
    {"Lowpass0Upper", 0, 1, 1, 25000}, {"Lowpass1Upper", 1, 1, 1, 25000},
    {"Highpass0Lower", 2, 0, 1, 25000}, {"Highpass1Lower", 3, 0, 1, 25000},
    {"BandpassLower", 4, 0, 50, 500}, {"BandpassUpper", 4, 1, 100, 600},
};
constexpr int kFilterIdsPerAdc = 6;
constexpr int kAdcCount = 3;

// Gains compare in single precision, as the detector stores them.
bool gainEqual(float a, float b)
{
    return std::abs(a - b) * 100000.f <= std::min(std::abs(a), std::abs(b));
}

// Selects Low (id 0) or High (id 1) without writing anything back.
void checkHigh(QButtonGroup *group, bool high)
{
    const QSignalBlocker blocker(group);
    if (QAbstractButton *button = group->button(high ? 1 : 0))
        button->setChecked(true);
}

// Check boxes and checkable group boxes alike.
template<typename Checkable>
void setCheckedQuietly(Checkable *control, bool checked)
{
    const QSignalBlocker blocker(control);
    control->setChecked(checked);
}
} // namespace

DravikExpertWidget_v2::DravikExpertWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                                             QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent)
    : DravikBaseWidget_v2(std::move(userContainer), std::move(deviceContainer), parent)
    , ui(new Ui::DravikExpertWidget_v2)
{
    ui->setupUi(this);
    setUpChannelLeds();

    const QList<QPair<QButtonGroup *, QPair<QAbstractButton *, QAbstractButton *>>> groups = {
        {ui->groupVoltageGain, {ui->radioLowVoltageGain, ui->radioHighVoltageGain}},
        {ui->groupBandwidth, {ui->radioLowBandwidth, ui->radioHighBandwidth}},
        {ui->groupSystemGatingBandwidth, {ui->radioLowSystemGatingBandwidth, ui->radioHighSystemGatingBandwidth}},
        {ui->groupUserGatingBandwidth, {ui->radioLowUserGatingBandwidth, ui->radioHighUserGatingBandwidth}},
    };
    for (const auto &group : groups) {
        group.first->setId(group.second.first, 0);
        group.first->setId(group.second.second, 1);
    }
    connect(ui->groupVoltageGain, &QButtonGroup::idClicked, this, &DravikExpertWidget_v2::onGrpTestVoltageGainValueChanged);
    connect(ui->groupBandwidth, &QButtonGroup::idClicked, this, &DravikExpertWidget_v2::onGrpBandwidthValueChanged);
    connect(ui->groupSystemGatingBandwidth, &QButtonGroup::idClicked, this,
            &DravikExpertWidget_v2::onGrpSystemGatingBandwidthValueChanged);
    connect(ui->groupUserGatingBandwidth, &QButtonGroup::idClicked, this,
            &DravikExpertWidget_v2::onGrpUserGatingBandwidthValueChanged);

    for (ComboBox *combo : {ui->comboMuxerChannel0, ui->comboMuxerChannel1}) {
        for (int source = 0; source < int(std::size(kSignalSources)); ++source)
            combo->addItem(tr(kSignalSources[source]), source);
    }
    setUpTimingCombos();
    setUpFilters();
    buildTables();

    // Gain sliders write when released or stepped, not for every position
    // passed while dragging (tracking is off in the form).
    m_gainSliders = {
        {ui->sliderSystemGatingGain, ui->lblSystemGatingGain, GainSystemGatingLevels, GainSystemGatingValue},
        {ui->sliderUserGatingGain, ui->lblUserGatingGain, GainUserGatingLevels, GainUserGatingValue},
        {ui->sliderPdGain, ui->lblPdGain, GainPdLevels, GainPdValue},
    };
    connect(ui->sliderSystemGatingGain, &QSlider::valueChanged, this,
            &DravikExpertWidget_v2::onSliderSystemGatingGainValueChanged);
    connect(ui->sliderUserGatingGain, &QSlider::valueChanged, this,
            &DravikExpertWidget_v2::onSliderUserGatingGainValueChanged);
    connect(ui->sliderPdGain, &QSlider::valueChanged, this, &DravikExpertWidget_v2::onSliderPdGainValueChanged);

    connect(ui->chkboxPowerExtGain, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxPowerExtGainClicked);
    connect(ui->chkboxClockSource, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxClockSourceClicked);
    connect(ui->chkboxMutexGating, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxMutexGatingClicked);
    connect(ui->chkboxMutexDualMode, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxMutexDualModeClicked);
    connect(ui->chkboxGainCompensation, &QCheckBox::clicked, this,
            &DravikExpertWidget_v2::onChkboxGainCompensationClicked);
    connect(ui->chkboxAdc0Invert, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxAdc0InvertClicked);
    connect(ui->chkboxAdc1Invert, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxAdc1InvertClicked);
    connect(ui->chkboxAdc2Invert, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxAdc2InvertClicked);
    connect(ui->chkboxAdc3Invert, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onChkboxAdc3InvertClicked);
    connect(ui->checkDigitalGating0, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onCheckDigitalGating0Clicked);
    connect(ui->checkDigitalGating1, &QCheckBox::clicked, this, &DravikExpertWidget_v2::onCheckDigitalGating1Clicked);
    connect(ui->groupGatingSystem, &QGroupBox::clicked, this, &DravikExpertWidget_v2::onGroupGatingSystemClicked);
    connect(ui->groupGatingUser, &QGroupBox::clicked, this, &DravikExpertWidget_v2::onGroupGatingUserClicked);
    connect(ui->checkBoxExpertMode, &QCheckBox::toggled, this, &DravikExpertWidget_v2::onCheckBoxExpertModeToggled);
    connect(ui->btnResetToDefaultTimings, &QPushButton::clicked, this, &DravikExpertWidget_v2::resetToDefault);

    connect(ui->listWidget, &QListWidget::currentRowChanged, ui->stackedParameters, &QStackedWidget::setCurrentIndex);
    ui->listWidget->setCurrentRow(0);
    ui->stackedParameters->setCurrentIndex(0);
    for (const TimingRow &row : kTimingRows)
        ui->comboTimingsChannel->addItem(tr(row.name));
    connect(ui->comboTimingsChannel, qOverload<int>(&QComboBox::currentIndexChanged), ui->stackedTimings,
            &QStackedWidget::setCurrentIndex);
    for (int adc = 0; adc < kAdcCount; ++adc)
        ui->comboAdcFilterChannel->addItem(tr("ADC %1").arg(adc));
    connect(ui->comboAdcFilterChannel, qOverload<int>(&QComboBox::currentIndexChanged), ui->stackedFilters,
            &QStackedWidget::setCurrentIndex);

    refreshAll();
}

DravikExpertWidget_v2::~DravikExpertWidget_v2() = default;

void DravikExpertWidget_v2::setUpChannelLeds()
{
    const QStringList ledToolTips = {tr("Configured"), tr("Measuring"), tr("Data available"), tr("Transfering")};
    auto *layout = ui->groupChannelStates->layout();
    for (int channel = 0; channel < int(std::size(kTimingRows)); ++channel) {
        auto *leds = new StateLedWidget_v2(ledToolTips.size(), false, tr(kTimingRows[channel].name), ledToolTips, true,
                                           ui->groupChannelStates);
        layout->addWidget(leds);
        m_channelLeds.insert(channel, leds);
    }
}

void DravikExpertWidget_v2::setUpTimingCombos()
{
    QVariantList samplePeriods, framePeriods, timeoutPeriods, pretriggerPeriods;
    for (quint64 period : series125(kMillisecond, kMaxSamplePeriod))
        samplePeriods << QVariant::fromValue<qulonglong>(period);
    for (quint64 period : series125(kMillisecond, kMaxFramePeriod))
        framePeriods << QVariant::fromValue<qulonglong>(period);
    for (quint64 period : series125(kMillisecond, kMaxTimeoutPeriod))
        timeoutPeriods << QVariant::fromValue<qulonglong>(period);
    for (qint64 period : kPretriggerPeriods)
        pretriggerPeriods << QVariant::fromValue<qlonglong>(period);

    for (const TimingRow &row : kTimingRows) {
        const QString key = QLatin1String(row.key);
        auto *periods = findChild<DoubleSpinBox *>(QStringLiteral("spinPeriods") + key);
        auto *sample = findChild<ComboBox *>(QStringLiteral("comboSamplePeriod") + key);
        auto *frame = findChild<ComboBox *>(QStringLiteral("comboFramePeriod") + key);
        auto *pretrigger = findChild<ComboBox *>(QStringLiteral("comboPretrigger") + key);
        auto *timeout = findChild<ComboBox *>(QStringLiteral("comboTimeout") + key);
        Q_ASSERT(periods && sample && frame && pretrigger && timeout);
        fillTimeCombo(sample, samplePeriods);
        fillTimeCombo(frame, framePeriods);
        fillTimeCombo(pretrigger, pretriggerPeriods);
        fillTimeCombo(timeout, timeoutPeriods);
        m_signedTimeCombos << pretrigger;
        m_spinBoxes.insert(row.periods, periods);
        m_combos.insert(row.sample, sample);
        m_combos.insert(row.frame, frame);
        m_combos.insert(row.pretrigger, pretrigger);
        m_combos.insert(row.timeout, timeout);
        m_timingRows.insert(row.periods, {sample, frame, pretrigger, timeout});
    }
}

void DravikExpertWidget_v2::setUpFilters()
{
    using Slot = void (DravikExpertWidget_v2::*)();
    static const Slot editingFinished[kAdcCount][std::size(kFilterSlots)] = {
        {&DravikExpertWidget_v2::onSpinboxAdc0Lowpass0UpperEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc0Lowpass1UpperEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc0Highpass0LowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc0Highpass1LowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc0BandpassLowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc0BandpassUpperEditingFinished},
        {&DravikExpertWidget_v2::onSpinboxAdc1Lowpass0UpperEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc1Lowpass1UpperEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc1Highpass0LowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc1Highpass1LowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc1BandpassLowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc1BandpassUpperEditingFinished},
        {&DravikExpertWidget_v2::onSpinboxAdc2Lowpass0UpperEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc2Lowpass1UpperEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc2Highpass0LowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc2Highpass1LowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc2BandpassLowerEditingFinished,
         &DravikExpertWidget_v2::onSpinboxAdc2BandpassUpperEditingFinished},
    };
    for (int adc = 0; adc < kAdcCount; ++adc) {
        for (size_t i = 0; i < std::size(kFilterSlots); ++i) {
            const FilterSlot &slot = kFilterSlots[i];
            auto *spinBox = findChild<DoubleSpinBox *>(QStringLiteral("spinboxAdc%1%2").arg(adc).arg(QLatin1String(slot.name)));
            Q_ASSERT(spinBox);
            spinBox->setDecimals(0);
            spinBox->setSingleStep(1.0);
            spinBox->setRange(slot.minimum, slot.maximum);
            spinBox->setSuffix(QStringLiteral("kHz"));
            spinBox->setSpecialValueText(tr("off"));
            m_filters.append({spinBox, FilterAdc0Lowpass0 + adc * kFilterIdsPerAdc + slot.offset, slot.element});
            connect(spinBox, &QAbstractSpinBox::editingFinished, this, editingFinished[adc][i]);
        }
    }
}

void DravikExpertWidget_v2::buildTables()
{
    m_combos.insert(MuxerChannel0, ui->comboMuxerChannel0);
    m_combos.insert(MuxerChannel1, ui->comboMuxerChannel1);
    m_combos.insert(Trigger0Source, ui->comboTrigger0Source);
    m_combos.insert(Trigger1Source, ui->comboTrigger1Source);
    connectComboTable();

    m_spinBoxes.insert(Trigger0Holdtime, ui->spinTrigger0Holdtime);
    m_spinBoxes.insert(Trigger1Holdtime, ui->spinTrigger1Holdtime);
    m_spinBoxes.insert(GatingSystemHoldtime, ui->spinGatingSystemHoldtime);
    m_spinBoxes.insert(GatingUserHoldtime, ui->spinGatingUserHoldtime);
    m_spinBoxes.insert(DigitalChannel0HoldTime, ui->spinDigitalGating0Holdtime);
    m_spinBoxes.insert(DigitalChannel1HoldTime, ui->spinDigitalGating1Holdtime);

    m_doubleSpinBoxes.insert(Trigger0Level, ui->spinboxTrigger0Level);
    m_doubleSpinBoxes.insert(Trigger1Level, ui->spinboxTrigger1Level);
    m_doubleSpinBoxes.insert(GatingSystemLevel, ui->doubleSpinboxGatingSystemLevel);
    m_doubleSpinBoxes.insert(GatingUserLevel, ui->doubleSpinboxGatingUserLevel);
    const QList<DoubleSpinBox *> fanControl = {ui->spinboxFcMinTemperature, ui->spinboxFcMaxTemperature,
                                               ui->spinboxFcMinDutyCycle, ui->spinboxFcMaxDutyCycle,
                                               ui->spinboxFcOmega};
    for (int i = 0; i < fanControl.size(); ++i)
        m_doubleSpinBoxes.insert(FanControlMinTemperature + i, fanControl.at(i));
    m_doubleSpinBoxes.insert(TriggerLevelByCharge, ui->spinboxTriggerCharge);

    for (DoubleSpinBox *spinBox : qAsConst(m_spinBoxes))
        connect(spinBox, &QAbstractSpinBox::editingFinished, this, &DravikExpertWidget_v2::onSpinBox_editingFinished);
    for (DoubleSpinBox *spinBox : qAsConst(m_doubleSpinBoxes))
        connect(spinBox, &QAbstractSpinBox::editingFinished, this,
                &DravikExpertWidget_v2::onDoubleSpinBox_editingFinished);
}

QList<quint64> DravikExpertWidget_v2::series125(quint64 minimum, quint64 maximum)
{
    QList<quint64> values;
    for (quint64 decade = 1; decade <= maximum; decade *= 10) {
        for (quint64 step : {1, 2, 5}) {
            const quint64 value = decade * step;
            if (value >= minimum && value <= maximum)
                values << value;
        }
        if (decade > maximum / 10)
            break; // the next decade would overflow
    }
    return values;
}

QString DravikExpertWidget_v2::formatTime(double nanoseconds)
{
    // The prefix is chosen for the magnitude, so a negative pre-trigger reads
    // "-500 µs" rather than a long count of nanoseconds.
    const double seconds = nanoseconds / 1e9;
    const QString sign = seconds < 0 ? QStringLiteral("-") : QString();
    //: Unit of time (second)
    return sign + SiPrefixHelper::format(std::abs(seconds), tr("s"), 0, 3, 9);
}

void DravikExpertWidget_v2::fillTimeCombo(ComboBox *combo, const QVariantList &values)
{
    combo->clear();
    for (const QVariant &value : values)
        combo->addItem(formatTime(value.toDouble()), value);
}

void DravikExpertWidget_v2::refresh(int id)
{
    const QVariant value = parameter(id);
    switch (id) {
    case ExpertMode:
        ui->stackedParameters->setEnabled(value.toBool());
        setCheckedQuietly(ui->checkBoxExpertMode, value.toBool());
        return;
    case UserEnableGainCompensation:
        setCheckedQuietly(ui->chkboxGainCompensation, value.toBool());
        return;
    case DeviceSoftwareVersion:
    case DeviceHardwareVersion:
    case DeviceFirmwareVersion:
        ui->textDeviceInfo->setPlainText(versionText());
        return;
    case Trigger0Source:
    case Trigger1Source:
    case MuxerChannel0:
    case MuxerChannel1:
        selectItemWithData(m_combos.value(id), value);
        return;
    case GainTestVoltageValue:
        checkHigh(ui->groupVoltageGain, value.toDouble() > 0.5);
        return;
    case GainPdBandwidthValue:
        showBandwidth(ui->groupBandwidth, value.toDouble());
        return;
    case GainSystemGatingBandwidthValue:
        checkHigh(ui->groupSystemGatingBandwidth, value.toDouble() > 0.5);
        return;
    case GainUserGatingBandwidthValue:
        checkHigh(ui->groupUserGatingBandwidth, value.toDouble() > 0.5);
        return;
    case GainPdRemotePowerValue:
        setCheckedQuietly(ui->chkboxPowerExtGain, value.toDouble() > 0.5);
        return;
    case GainClockSourceValue:
        // Mirrors the value like "Power on"; the box writes 1.0 or 0.0.
        setCheckedQuietly(ui->chkboxClockSource, value.toDouble() > 0.5);
        return;
    case GatingSystemActivation:
        setCheckedQuietly(ui->groupGatingSystem, (value.toUInt() & 0xFF) != 0);
        return;
    case GatingUserActivation:
        setCheckedQuietly(ui->groupGatingUser, (value.toUInt() & 0xFF) != 0);
        return;
    case GatingDigital0Activation:
        setCheckedQuietly(ui->checkDigitalGating0, (value.toUInt() & 0xFF) != 0);
        return;
    case GatingDigital1Activation:
        setCheckedQuietly(ui->checkDigitalGating1, (value.toUInt() & 0xFF) != 0);
        return;
    case MuxerDualChannelEnable:
        setCheckedQuietly(ui->chkboxMutexDualMode, (value.toUInt() & 0xFF) == 1);
        return;
    case MuxerGatingEnable:
        setCheckedQuietly(ui->chkboxMutexGating, (value.toUInt() & 0xFF) == 1);
        return;
    case DeviceConfigInfoString:
        ui->textTemperatures->setPlainText(value.toString().replace(QLatin1String("; "), QLatin1String("\n")));
        return;
    default:
        break;
    }

    if (id >= ChannelStateMuxer && id <= ChannelStateCharge2) {
        // Low nibble: the channel; high nibble: its LED mask.
        const int state = ParameterText::channelState(value);
        StateLedWidget_v2 *leds = state < 0 ? nullptr : m_channelLeds.value(state & 0x0F);
        if (leds)
            leds->setState(quint32(state) >> 4);
    } else if (id >= Adc0Invert && id <= Adc3Invert) {
        const QList<CheckBox *> boxes = {ui->chkboxAdc0Invert, ui->chkboxAdc1Invert, ui->chkboxAdc2Invert,
                                         ui->chkboxAdc3Invert};
        setCheckedQuietly(boxes.at(id - Adc0Invert), value.toBool());
    } else if (id >= StatisticsMin && id <= StatisticsRms) {
        const QList<Label *> labels = {ui->lblStatisticsMin, ui->lblStatisticsMax, ui->lblStatisticsMean,
                                       ui->lblStatisticsRms};
        labels.at(id - StatisticsMin)->setText(QString::number(value.toFloat(), 'g', 6));
    } else if (id >= FilterAdc0Lowpass0 && id <= FilterAdc2Bandpass) {
        refreshFilter(id);
    } else if (ComboBox *combo = m_combos.value(id)) {
        refreshTimingCombo(combo, value);
    } else if (DoubleSpinBox *spinBox = m_spinBoxes.value(id)) {
        spinBox->setValue(double(value.toULongLong()));
        for (ComboBox *periodCombo : m_timingRows.value(id))
            periodCombo->setEnabled(value.toULongLong() != 0);
    } else if (DoubleSpinBox *spinBox = m_doubleSpinBoxes.value(id)) {
        spinBox->setValue(double(value.toFloat()));
    }
    for (const GainSlider &gain : qAsConst(m_gainSliders)) {
        if (id == gain.levelsId || id == gain.valueId)
            refreshGainSlider(gain);
    }
}

void DravikExpertWidget_v2::refreshTimingCombo(ComboBox *combo, const QVariant &value)
{
    // Not read from the detector yet: keep the pre-filled choices quietly.
    if (!value.isValid())
        return;
    const bool isSigned = isSignedTime(combo);
    bool ok = false;
    const QVariant wanted = isSigned ? QVariant::fromValue<qlonglong>(value.toLongLong(&ok))
                                     : QVariant::fromValue<qulonglong>(value.toULongLong(&ok));
    if (!ok) {
        qDebug() << "[DRAVIK.UI]:" << "unable to set aquisition time";
        return;
    }
    const auto less = [isSigned](const QVariant &a, const QVariant &b) {
        return isSigned ? a.toLongLong() < b.toLongLong() : a.toULongLong() < b.toULongLong();
    };
    QVariantList values;
    for (int i = 0; i < combo->count(); ++i)
        values << combo->itemData(i);
    const auto same = [&less, &wanted](const QVariant &item) { return !less(item, wanted) && !less(wanted, item); };
    if (std::none_of(values.cbegin(), values.cend(), same))
        values << wanted;
    std::sort(values.begin(), values.end(), less);
    fillTimeCombo(combo, values);
    combo->setCurrentIndex(int(std::find_if(values.cbegin(), values.cend(), same) - values.cbegin()));
}

void DravikExpertWidget_v2::refreshGainSlider(const GainSlider &gain)
{
    const QVariantList levels = parameter(gain.levelsId).toList();
    const QVariant value = parameter(gain.valueId);
    const QSignalBlocker blocker(gain.slider);
    gain.slider->setRange(0, std::max(0, levels.size() - 1));
    if (!value.isValid())
        return;
    for (int i = 0; i < levels.size(); ++i) {
        if (gainEqual(levels.at(i).toFloat(), value.toFloat())) {
            gain.slider->setValue(i);
            break;
        }
    }
    gain.label->setText(locale().toString(value.toDouble(), 'f', 0) + QStringLiteral("dB"));
}

void DravikExpertWidget_v2::refreshFilter(int id)
{
    const QVariantList bounds = parameter(id).toList();
    if (bounds.size() < 2)
        return;
    for (const FilterControl &filter : qAsConst(m_filters)) {
        if (filter.id == id)
            filter.spinBox->setValue(bounds.at(filter.element).toDouble() / 1000.0);
    }
}

void DravikExpertWidget_v2::selectItemWithData(ComboBox *combo, const QVariant &value)
{
    bool ok = false;
    const qlonglong wanted = value.toLongLong(&ok);
    int index = -1;
    for (int i = 0; ok && i < combo->count(); ++i) {
        if (combo->itemData(i).toLongLong() == wanted) {
            index = i;
            break;
        }
    }
    combo->setCurrentIndex(index);
}

void DravikExpertWidget_v2::writeGainSlider(const GainSlider &gain)
{
    const QVariantList levels = parameter(gain.levelsId).toList();
    const int position = gain.slider->value();
    if (position >= 0 && position < levels.size()) {
        setParameter(gain.valueId, levels.at(position));
        return;
    }
    // No level to write there: the slider goes back to the confirmed gain.
    qDebug() << "[DRAVIK.UI]:" << "no gain level at position" << position << "of" << levels.size();
    refreshGainSlider(gain);
}

void DravikExpertWidget_v2::writeFilter(int index)
{
    const FilterControl &filter = m_filters.at(index);
    QVariantList bounds = parameter(filter.id).toList();
    // Without both bounds known the other one cannot be kept: write nothing.
    if (bounds.size() < 2) {
        qDebug() << "[DRAVIK.UI]:" << "no filter bounds for" << filter.id;
        return;
    }
    bounds[filter.element] = float(filter.spinBox->value() * 1000.0);
    setParameter(filter.id, bounds);
}

void DravikExpertWidget_v2::onSetTriggerSources(QList<QPair<int, QString>> sources)
{
    const QList<QPair<int, ComboBox *>> combos = {{Trigger0Source, ui->comboTrigger0Source},
                                                  {Trigger1Source, ui->comboTrigger1Source}};
    for (const auto &entry : combos) {
        entry.second->clear();
        for (const auto &source : qAsConst(sources))
            entry.second->addItem(source.second, source.first);
        selectItemWithData(entry.second, parameter(entry.first));
    }
}

void DravikExpertWidget_v2::onChkboxPowerExtGainClicked()
{
    setParameter(GainPdRemotePowerValue, ui->chkboxPowerExtGain->isChecked() ? 1.0f : 0.0f);
}

void DravikExpertWidget_v2::onChkboxClockSourceClicked()
{
    setParameter(GainClockSourceValue, ui->chkboxClockSource->isChecked() ? 1.0f : 0.0f);
}

void DravikExpertWidget_v2::onSliderPdGainValueChanged()
{
    writeGainSlider(m_gainSliders.at(2));
}

void DravikExpertWidget_v2::onChkboxMutexGatingClicked()
{
    setParameter(MuxerGatingEnable, ui->chkboxMutexGating->isChecked() ? 1 : 0);
}

void DravikExpertWidget_v2::onChkboxMutexDualModeClicked()
{
    setParameter(MuxerDualChannelEnable, ui->chkboxMutexDualMode->isChecked() ? 1 : 0);
}

void DravikExpertWidget_v2::onChkboxGainCompensationClicked()
{
    setParameter(UserEnableGainCompensation, ui->chkboxGainCompensation->isChecked());
}

void DravikExpertWidget_v2::onChkboxAdc0InvertClicked()
{
    setParameter(Adc0Invert, ui->chkboxAdc0Invert->isChecked());
}

void DravikExpertWidget_v2::onChkboxAdc1InvertClicked()
{
    setParameter(Adc0Invert + 1, ui->chkboxAdc1Invert->isChecked());
}

void DravikExpertWidget_v2::onChkboxAdc2InvertClicked()
{
    setParameter(Adc0Invert + 2, ui->chkboxAdc2Invert->isChecked());
}

void DravikExpertWidget_v2::onChkboxAdc3InvertClicked()
{
    setParameter(Adc3Invert, ui->chkboxAdc3Invert->isChecked());
}

void DravikExpertWidget_v2::onSliderSystemGatingGainValueChanged()
{
    writeGainSlider(m_gainSliders.at(0));
}

void DravikExpertWidget_v2::onSliderUserGatingGainValueChanged()
{
    writeGainSlider(m_gainSliders.at(1));
}

void DravikExpertWidget_v2::onCheckBoxExpertModeToggled()
{
    setParameter(ExpertMode, ui->checkBoxExpertMode->isChecked());
}

void DravikExpertWidget_v2::onGroupGatingSystemClicked()
{
    setParameter(GatingSystemActivation, ui->groupGatingSystem->isChecked());
}

void DravikExpertWidget_v2::onGroupGatingUserClicked()
{
    setParameter(GatingUserActivation, ui->groupGatingUser->isChecked());
}

void DravikExpertWidget_v2::onCheckDigitalGating0Clicked()
{
    setParameter(GatingDigital0Activation, QVariant::fromValue<quint8>(ui->checkDigitalGating0->isChecked()));
}

void DravikExpertWidget_v2::onCheckDigitalGating1Clicked()
{
    setParameter(GatingDigital1Activation, QVariant::fromValue<quint8>(ui->checkDigitalGating1->isChecked()));
}

// One slot per filter spin box, in the order setUpFilters() lists them.
void DravikExpertWidget_v2::onSpinboxAdc0Lowpass0UpperEditingFinished() { writeFilter(0); }
void DravikExpertWidget_v2::onSpinboxAdc0Lowpass1UpperEditingFinished() { writeFilter(1); }
void DravikExpertWidget_v2::onSpinboxAdc0Highpass0LowerEditingFinished() { writeFilter(2); }
void DravikExpertWidget_v2::onSpinboxAdc0Highpass1LowerEditingFinished() { writeFilter(3); }
void DravikExpertWidget_v2::onSpinboxAdc0BandpassLowerEditingFinished() { writeFilter(4); }
void DravikExpertWidget_v2::onSpinboxAdc0BandpassUpperEditingFinished() { writeFilter(5); }
void DravikExpertWidget_v2::onSpinboxAdc1Lowpass0UpperEditingFinished() { writeFilter(6); }
void DravikExpertWidget_v2::onSpinboxAdc1Lowpass1UpperEditingFinished() { writeFilter(7); }
void DravikExpertWidget_v2::onSpinboxAdc1Highpass0LowerEditingFinished() { writeFilter(8); }
void DravikExpertWidget_v2::onSpinboxAdc1Highpass1LowerEditingFinished() { writeFilter(9); }
void DravikExpertWidget_v2::onSpinboxAdc1BandpassLowerEditingFinished() { writeFilter(10); }
void DravikExpertWidget_v2::onSpinboxAdc1BandpassUpperEditingFinished() { writeFilter(11); }
void DravikExpertWidget_v2::onSpinboxAdc2Lowpass0UpperEditingFinished() { writeFilter(12); }
void DravikExpertWidget_v2::onSpinboxAdc2Lowpass1UpperEditingFinished() { writeFilter(13); }
void DravikExpertWidget_v2::onSpinboxAdc2Highpass0LowerEditingFinished() { writeFilter(14); }
void DravikExpertWidget_v2::onSpinboxAdc2Highpass1LowerEditingFinished() { writeFilter(15); }
void DravikExpertWidget_v2::onSpinboxAdc2BandpassLowerEditingFinished() { writeFilter(16); }
void DravikExpertWidget_v2::onSpinboxAdc2BandpassUpperEditingFinished() { writeFilter(17); }
