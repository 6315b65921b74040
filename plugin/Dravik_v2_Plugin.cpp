#include "Dravik_v2_Plugin.h"

#include "QxtLogger.h"

Dravik_v2_Plugin::Dravik_v2_Plugin(QObject *parent)
    : AbstractDevicePlugin(parent)
{
}

QObject *Dravik_v2_Plugin::createDevice(QObject *parent)
{
    Q_UNUSED(parent)
    // The host is given the post-processing device, which wraps the detector
    // device; until that is part of the plug-in there is nothing to hand out,
    // and the host must see that instead of a half-working device.
    QxtLogger::getInstance()->warning("[DRAVIK2]:", Q_FUNC_INFO,
                                      "no device available: the post-processing device is not part of this build");
    return nullptr;
}
