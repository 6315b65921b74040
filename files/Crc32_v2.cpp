#include "Crc32_v2.h"

quint32 Crc32_v2::checksum(const QByteArray &data)
{
    return update(kInitial, data.constData(), data.size());
}

quint32 Crc32_v2::update(quint32 crc, const char *data, int size)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    for (int i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (kReflectedPolynomial & (0u - (crc & 1u)));
    }
    return crc;
}
