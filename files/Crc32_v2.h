#pragma once

#include <QByteArray>
#include <QtGlobal>

// The checksum the detector keeps over a transferred file: CRC-32 with the
// polynomial 0x04C11DB7 in its reflected form, starting from all ones and
// without the final complement. That makes it the bitwise complement of the
// common CRC-32 (zlib's crc32()); over "123456789" it is 0x340BC6D9.
//
// Computed bit by bit: a firmware image is checked twice per update, which
// does not justify a table.
class Crc32_v2
{
public:
    static constexpr quint32 kInitial = 0xFFFFFFFFu;
    static constexpr quint32 kReflectedPolynomial = 0xEDB88320u;

    static quint32 checksum(const QByteArray &data);
    // Continues crc over size more bytes; checksum() is update(kInitial, ...).
    static quint32 update(quint32 crc, const char *data, int size);
};
