#pragma once

#include <QByteArray>
#include <QtGlobal>

// The file checksum of the detector's file transfer: CRC-32 with the
// reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF and no final XOR
// (the complement of the usual zlib CRC-32). Over "123456789" it is 0x340BC6D9.
//
// The detector updates it block by block as the file arrives, so the running
// value is exposed; a table makes that cheap for firmware images of megabytes.
class SimCrc32
{
public:
    static constexpr quint32 kInitial = 0xFFFFFFFFu;

    static quint32 update(quint32 crc, const char *data, int size);
    static quint32 compute(const QByteArray &data) { return update(kInitial, data.constData(), data.size()); }
};
