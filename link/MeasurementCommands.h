#pragma once

#include <QMetaType>

// What the device asks the measurement job to do. Crosses from the device's
// thread to the protocol thread, hence the meta-type. The fixed underlying
// type keeps a value read from elsewhere well defined even when it is none of
// the four.
enum MeasurementCommands : int {
    StartMeasurement = 0, // 0x0F00, empty payload
    StopMeasurement = 1,  // 0x0F01, empty payload
    TransferData = 2,     // 0x0F5B, one byte: the hardware channel
    DiscardData = 3       // 0x0F06, one byte: the hardware channel
};

Q_DECLARE_METATYPE(MeasurementCommands)

// Registers the link's cross-thread types (MeasurementCommands, the socket's
// enums and the contract's types). Idempotent.
void registerLinkMetaTypes();
