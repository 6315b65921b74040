#include "DravikBaseWidget_v2.h"

#include "ComboBox.h"
#include "ControlStyle.h"
#include "DoubleSpinBox.h"
#include "ParameterHandler.h"
#include "SiPrefixHelper.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDebug>
#include <QListView>

#include <cmath>

namespace {
enum ParameterId {
    DeviceSoftwareVersion = 1006,
    DeviceHardwareVersion = 1007,
    DeviceFirmwareVersion = 1008,
    GainTestVoltageLevels = 1077,
    GainTestVoltageValue = 1078,
    GainPdBandwidthValue = 1084,
    GainSystemGatingBandwidthValue = 1093,
    GainUserGatingBandwidthValue = 1096
};
} // namespace

DravikBaseWidget_v2::DravikBaseWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                                         QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent)
    : QWidget(parent)
    , m_userContainer(std::move(userContainer))
    , m_deviceContainer(std::move(deviceContainer))
    , m_connectedText(tr("Connected"))
    , m_notConnectedText(tr("Not connected"))
    , m_notAvailableText(tr("not available"))
{
    ControlStyle::initResources();
    // Our combo boxes draw their own arrow; a request still pending with the
    // detector shows in the highlight colour until it is confirmed or fails.
    // Fields carry a border in the palette's mid colour, as the spin boxes
    // do, so that they stand out on dark palettes too; buttons get room
    // around their text, and check boxes room beside their larger indicator.
    setStyleSheet(QStringLiteral("QComboBox::drop-down { border: none; width: 24px; }"
                                 "QComboBox::down-arrow { image: none; }"
                                 "QComboBox[changingParam=\"true\"] { color: palette(highlight); }"
                                 "QDoubleSpinBox[changingParam=\"true\"] { color: palette(highlight); }"
                                 "QPushButton { padding: 4px 12px; }"
                                 "QCheckBox, QRadioButton { spacing: 10px; }"
                                 "QLineEdit { border: 1px solid palette(mid); border-radius: 3px; padding: 2px 4px;"
                                 " background: palette(base); min-height: 20px; }"
                                 "QLineEdit:disabled { border-color: palette(midlight); }"
                                 "QAbstractSpinBox QLineEdit, QAbstractItemView QLineEdit { border: none; padding: 0px;"
                                 " min-height: 0px; }"));
    if (m_userContainer) {
        connect(m_userContainer.data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged),
                this, &DravikBaseWidget_v2::onUserParameterStatusChanged);
    }
    if (m_deviceContainer) {
        connect(m_deviceContainer.data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged),
                this, &DravikBaseWidget_v2::onDeviceParameterStatusChanged);
    }
}

ParameterHandler *DravikBaseWidget_v2::containerFor(int id) const
{
    if (m_deviceContainer && m_deviceContainer->contains(id))
        return m_deviceContainer.data();
    return m_userContainer.data();
}

QVariant DravikBaseWidget_v2::parameter(int id) const
{
    ParameterHandler *container = containerFor(id);
    return container ? container->value(id) : QVariant();
}

void DravikBaseWidget_v2::setParameter(int id, const QVariant &value)
{
    if (ParameterHandler *container = containerFor(id))
        container->setValue(id, value);
}

void DravikBaseWidget_v2::refreshAll()
{
    if (m_userContainer) {
        for (int id : m_userContainer->ids())
            onUserParameterStatusChanged(id, 0);
    }
    if (m_deviceContainer) {
        for (int id : m_deviceContainer->ids())
            onDeviceParameterStatusChanged(id, 0);
    }
}

QString DravikBaseWidget_v2::formatCharge(double coulombs)
{
    //: Unit for charge (Coloumb)
    return SiPrefixHelper::format(coulombs, tr("C"), 0);
}

bool DravikBaseWidget_v2::fuzzyEqual(double a, double b)
{
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

void DravikBaseWidget_v2::onDeviceConnected()
{
}

void DravikBaseWidget_v2::onDeviceDisconnected(int status)
{
    Q_UNUSED(status);
}

void DravikBaseWidget_v2::onUserParameterStatusChanged(int parameterId, int status)
{
    updateParameter(parameterId, status);
}

void DravikBaseWidget_v2::onDeviceParameterStatusChanged(int parameterId, int status)
{
    updateParameter(parameterId, status);
}

bool DravikBaseWidget_v2::isPending(int id) const
{
    ParameterHandler *container = containerFor(id);
    return container && container->pendingIds().contains(id);
}

void DravikBaseWidget_v2::updateParameter(int id, int status)
{
    if (status != 0 && status != 1 && status != -1)
        return;
    const bool pending = isPending(id);
    // A request that changed nothing (-1 from setValue) or failed brings the
    // control back to what the detector holds.
    if (!pending)
        refresh(id);
    setChanging(id, pending);
}

QString DravikBaseWidget_v2::versionText() const
{
    const QVariant hardware = parameter(DeviceHardwareVersion);
    const QVariant firmware = parameter(DeviceFirmwareVersion);
    const QVariant software = parameter(DeviceSoftwareVersion);
    if (!hardware.isValid() || !firmware.isValid() || !software.isValid())
        return m_notAvailableText;
    return QStringLiteral("hw %1; fw %2; sw %3")
        .arg(hardware.toULongLong())
        .arg(firmware.toULongLong())
        .arg(software.toULongLong());
}

void DravikBaseWidget_v2::refresh(int id)
{
    Q_UNUSED(id);
}

void DravikBaseWidget_v2::showBandwidth(QButtonGroup *group, double value)
{
    QAbstractButton *low = group->button(0);
    QAbstractButton *high = group->button(1);
    if (!low || !high)
        return;
    const QSignalBlocker blocker(group);
    // Out-of-range values show no choice at all: leave exclusivity off while
    // setting, so both buttons can end up unchecked.
    group->setExclusive(false);
    high->setChecked(value > 0.5 && value < 1.5);
    low->setChecked(value < 0.5);
    group->setExclusive(true);
    high->setEnabled(value < 1.5);
    low->setEnabled(value < 1.5);
}

QWidget *DravikBaseWidget_v2::tabledControl(int id) const
{
    if (ComboBox *combo = m_combos.value(id))
        return combo;
    if (DoubleSpinBox *spinBox = m_spinBoxes.value(id))
        return spinBox;
    return m_doubleSpinBoxes.value(id);
}

void DravikBaseWidget_v2::setChanging(int id, bool changing)
{
    if (QWidget *control = tabledControl(id)) {
        control->setProperty("changingParam", changing);
        ControlStyle::repolish(control);
    }
}

void DravikBaseWidget_v2::connectComboTable()
{
    for (ComboBox *combo : qAsConst(m_combos)) {
        combo->setView(new QListView(combo));
        connect(combo, qOverload<int>(&QComboBox::activated), this, &DravikBaseWidget_v2::onComboBox_activated);
    }
}

// The detector keeps its gains in single precision.
void DravikBaseWidget_v2::onGrpBandwidthValueChanged(int value)
{
    setParameter(GainPdBandwidthValue, float(value));
}

void DravikBaseWidget_v2::onGrpSystemGatingBandwidthValueChanged(int value)
{
    setParameter(GainSystemGatingBandwidthValue, float(value));
}

void DravikBaseWidget_v2::onGrpUserGatingBandwidthValueChanged(int value)
{
    setParameter(GainUserGatingBandwidthValue, float(value));
}

void DravikBaseWidget_v2::onGrpTestVoltageGainValueChanged(int value)
{
    const QVariantList levels = parameter(GainTestVoltageLevels).toList();
    if (levels.size() == 2 && value >= 0 && value < levels.size()) {
        setParameter(GainTestVoltageValue, levels.at(value));
        return;
    }
    // Low and High only mean something with two levels: nothing was
    // written, so the buttons show what the detector holds again.
    qDebug() << "[DRAVIK.UI]:" << "no two test voltage levels to choose from" << levels.size();
    refresh(GainTestVoltageValue);

}

void DravikBaseWidget_v2::onComboBox_activated(int index)
{
    if (auto *combo = qobject_cast<ComboBox *>(sender()))
        setParameter(m_combos.key(combo, 0), combo->itemData(index));
}

void DravikBaseWidget_v2::onSpinBox_editingFinished()
{
    if (auto *spinBox = qobject_cast<DoubleSpinBox *>(sender()))
        setParameter(m_spinBoxes.key(spinBox, 0), spinBox->value());
}

void DravikBaseWidget_v2::onDoubleSpinBox_editingFinished()
{
    if (auto *spinBox = qobject_cast<DoubleSpinBox *>(sender()))
        setParameter(m_doubleSpinBoxes.key(spinBox, 0), spinBox->value());
}
