#pragma once

#include <QVariant>

// One row of a ParameterHandler.
struct ParameterEntry
{
    int status = 0;    // 0 synchronised, 1 pending, -1 failed
    QVariant value;    // confirmed value, invalid until first confirmed
    QVariant newValue; // requested value, equal to value whenever nothing is pending
};
