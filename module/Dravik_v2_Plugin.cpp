#include "Dravik_v2_Plugin.h"

#include "DravikWidgetFactory_v2.h"
#include "DravikWrapper_v2.h"
#include "Dravik_v2.h"

Dravik_v2_Plugin::Dravik_v2_Plugin(QObject *parent)
    : AbstractDevicePlugin(parent)
{
}

QObject *Dravik_v2_Plugin::createDevice(QObject *parent)
{
    // The post-processing device, which owns the detector device. The
    // detector's views come from the widget layer, which only this module
    // links.
    auto *device = new DravikWrapper_v2(parent);
    if (auto *detector = qobject_cast<Dravik_v2 *>(device->innerDevice()))
        detector->setWidgetFactory(&DravikWidgetFactory_v2::create);
    return device;
}
