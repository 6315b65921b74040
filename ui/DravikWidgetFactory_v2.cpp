#include "DravikWidgetFactory_v2.h"

#include "Dravik_v2.h"
#include "DravikConfigurationWidget_v2.h"
#include "DravikControlWidget_v2.h"
#include "DravikDebugWidget_v2.h"
#include "DravikExpertWidget_v2.h"

namespace {

// The connections every widget of the device gets, then the current state.
void connectLifecycle(DravikBaseWidget_v2 *widget, Dravik_v2 *device)
{
    QObject::connect(device, &AbstractDevice::opened, widget, &DravikBaseWidget_v2::onDeviceConnected);
    QObject::connect(device, &AbstractDevice::closed, widget, &DravikBaseWidget_v2::onDeviceDisconnected);
    // The device's connect and disconnect handlers are private slots.
    QObject::connect(widget, SIGNAL(connectDevice()), device, SLOT(onConnect()));
    QObject::connect(widget, SIGNAL(disconnectDevice()), device, SLOT(onDisconnect()));
    if (device->isOpen())
        widget->onDeviceConnected();
    else
        widget->onDeviceDisconnected(0);
}

} // namespace

QWidget *DravikWidgetFactory_v2::create(int kind, Dravik_v2 *device)
{
    if (!device)
        return nullptr;
    switch (kind) {
    case Configuration: {
        auto *widget = new DravikConfigurationWidget_v2(device->serviceAccess(), device->productionAccess(),
                                                        device->userContainer(), device->deviceContainer());
        QObject::connect(widget, &DravikConfigurationWidget_v2::firmwareUpdate, device, &Dravik_v2::firmwareUpdate);
        QObject::connect(widget, &DravikConfigurationWidget_v2::notification, device, &AbstractDevice::notification);
        QObject::connect(device, &Dravik_v2::firmwareUpdateState, widget,
                         &DravikConfigurationWidget_v2::firmwareUpdateStatus);
        connectLifecycle(widget, device);
        return widget;
    }
    case Control: {
        auto *widget = new DravikControlWidget_v2(device->userContainer(), device->deviceContainer());
        QObject::connect(device, &AbstractDevice::ready, widget, &DravikControlWidget_v2::onReady);
        QObject::connect(device, &AbstractDevice::started, widget, &DravikControlWidget_v2::onStarted);
        QObject::connect(device, &AbstractDevice::stopped, widget, &DravikControlWidget_v2::onStopped);
        widget->onSetMeasurementStates(device->measurementStateTexts());
        connectLifecycle(widget, device);
        return widget;
    }
    case Debug: {
        auto *widget = new DravikDebugWidget_v2(device, device->userContainer(), device->deviceContainer());
        QObject::connect(device, &Dravik_v2::inspectEvent, widget, &DravikDebugWidget_v2::onInspectEvent);
        QObject::connect(widget, SIGNAL(readLogFile()), device, SLOT(onReadLogFile()));
        connectLifecycle(widget, device);
        return widget;
    }
    case Expert: {
        auto *widget = new DravikExpertWidget_v2(device->userContainer(), device->deviceContainer());
        QObject::connect(device, &Dravik_v2::setTriggerSources, widget, &DravikExpertWidget_v2::onSetTriggerSources);
        QObject::connect(widget, SIGNAL(resetToDefault()), device, SLOT(onResetToDefault()));
        connectLifecycle(widget, device);
        return widget;
    }
    default:
        return nullptr;
    }
}
