#pragma once

#include <QMetaType>

// Severity of a device notification. The host owns the meaning of the values;
// the plug-in emits only these three, errors always as StatusError.
enum StatusType {
    StatusInformation = 0,
    StatusWarning = 1,
    StatusError = 2
};

Q_DECLARE_METATYPE(StatusType)
