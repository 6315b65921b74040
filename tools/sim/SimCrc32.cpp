#include "SimCrc32.h"

#include <array>

namespace {

constexpr quint32 kReflectedPolynomial = 0xEDB88320u;

constexpr std::array<quint32, 256> makeTable()
{
    std::array<quint32, 256> table{};
    for (quint32 byte = 0; byte < 256; ++byte) {
        quint32 crc = byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1;
        table[byte] = crc;
    }
    return table;
}

constexpr std::array<quint32, 256> kTable = makeTable();

} // namespace

quint32 SimCrc32::update(quint32 crc, const char *data, int size)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    for (int i = 0; i < size; ++i)
        crc = kTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return crc;
}
