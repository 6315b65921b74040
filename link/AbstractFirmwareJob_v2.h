#pragma once

#include "AbstractJobHandler_v2.h"

#include <QByteArray>
#include <QString>

// What the protocol handler needs of the firmware update job: it is driven by
// the device's firmwareUpdate and reports its state, which also pauses the
// alive supervision while the detector is busy.
class AbstractFirmwareJob_v2 : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    using AbstractJobHandler_v2::AbstractJobHandler_v2;

    // True while an update is being transferred or written.
    virtual bool isRunning() const = 0;

public Q_SLOTS:
    virtual void onUpdateFirmware(QByteArray bitstream, quint8 mode) = 0;
    virtual void onConnectionChanged(bool open) = 0;

Q_SIGNALS:
    void processState(qint32 state, double progress, QString description);
};
