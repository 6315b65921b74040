#pragma once

#include <QByteArray>
#include <QString>

// What the detector answers to the identification request. The defaults pass
// the plug-in's version check (protocol 2, firmware 23 or later, software 11
// or later). The descriptor is the firmware's build stamp, which is what the
// configuration page shows as "compile time".
struct SimIdentity
{
    quint64 productNumber = 7001201;
    quint64 serial = 100042;
    QString descriptor = QStringLiteral("Jun 12 2023 14:05:31 (sim)");
    quint8 deviceType = 1;
    quint8 deviceSubType = 0;
    quint8 firmwareVersion = 23;
    quint8 softwareVersion = 11;
    quint8 hardwareVersion = 3;
    quint8 protocolVersion = 2;

    static constexpr int kDescriptorSize = 32;
    static constexpr int kPayloadSize = 54;

    // The 54-byte identification payload. The descriptor is Latin-1, cut at 32
    // bytes and zero-padded (no terminator when it fills the field).
    QByteArray encode() const;
};
