#pragma once

#include "AbstractQueryObject.h"

#include <QHash>
#include <QVariant>

// The host's environment as a test sets it: the measurement mode, the shot
// limit and keyed values (phase and channel ignored); keys never set are not
// answered, so the device keeps its own.
class TestQuery : public AbstractQueryObject
{
public:
    int mode = 0;
    unsigned shots = 4294967295u;
    QHash<int, QVariant> keyed;

    int measurementMode() const override { return mode; }
    unsigned maximumShots() const override { return shots; }
    bool query(int key, QVariant &value, int, int) const override
    {
        value = keyed.value(key);
        return value.isValid();
    }
};
