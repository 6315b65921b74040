#include "SimIdentity.h"

#include "SimByteOrder.h"

QByteArray SimIdentity::encode() const
{
    QByteArray payload;
    payload.reserve(kPayloadSize);
    simbytes::appendU64(payload, productNumber);
    simbytes::appendU64(payload, serial);
    QByteArray text = descriptor.toLatin1().left(kDescriptorSize);
    text.append(QByteArray(kDescriptorSize - text.size(), '\0'));
    payload.append(text);
    simbytes::appendU8(payload, deviceType);
    simbytes::appendU8(payload, deviceSubType);
    simbytes::appendU8(payload, firmwareVersion);
    simbytes::appendU8(payload, softwareVersion);
    simbytes::appendU8(payload, hardwareVersion);
    simbytes::appendU8(payload, protocolVersion);
    return payload;
}
