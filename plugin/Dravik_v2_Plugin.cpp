#include "Dravik_v2_Plugin.h"

#include "DravikWrapper_v2.h"

Dravik_v2_Plugin::Dravik_v2_Plugin(QObject *parent)
    : AbstractDevicePlugin(parent)
{
}

QObject *Dravik_v2_Plugin::createDevice(QObject *parent)
{
    // The post-processing device, which owns the detector device.
    return new DravikWrapper_v2(parent);
}
