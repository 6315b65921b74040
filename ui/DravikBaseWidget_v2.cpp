#include "DravikBaseWidget_v2.h"

#include "ControlStyle.h"
#include "ParameterHandler.h"
#include "SiPrefixHelper.h"

#include <cmath>

DravikBaseWidget_v2::DravikBaseWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                                         QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent)
    : QWidget(parent)
    , m_userContainer(std::move(userContainer))
    , m_deviceContainer(std::move(deviceContainer))
    , m_connectedText(tr("Connected"))
    , m_notConnectedText(tr("Not connected"))
{
    ControlStyle::initResources();
    // Our combo boxes draw their own arrow; a request still pending with the
    // detector shows in the highlight colour until it is confirmed or fails.
    setStyleSheet(QStringLiteral("QComboBox::drop-down { border: none; width: 24px; }"
                                 "QComboBox::down-arrow { image: none; }"
                                 "QComboBox[changingParam=\"true\"] { color: palette(highlight); }"));
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
    Q_UNUSED(parameterId);
    Q_UNUSED(status);
}

void DravikBaseWidget_v2::onDeviceParameterStatusChanged(int parameterId, int status)
{
    Q_UNUSED(parameterId);
    Q_UNUSED(status);
}
