#pragma once

#include "AbstractJobHandler_v2.h"

#include <QString>

// What the protocol handler needs of the device log reader.
class AbstractLogFileJob_v2 : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    using AbstractJobHandler_v2::AbstractJobHandler_v2;

    // Starts writing the detector's log into filename; the read request
    // itself has been sent by the protocol handler.
    virtual void readLogFile(const QString &filename) = 0;
};
