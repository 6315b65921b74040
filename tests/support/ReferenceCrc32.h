#pragma once

#include <QByteArray>

#include <zlib.h>

// The file checksum as the detector reports it (CRC-32 without the final
// complement), computed by zlib: a reference independent of both the plug-in
// and the simulator. Tests that include this link ZLIB::ZLIB.
inline quint32 referenceCrc32(const QByteArray &data)
{
    return ~quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}
