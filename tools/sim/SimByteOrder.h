#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>

// Little-endian field access for every payload the simulator reads or writes.
// Everything on the Qlp wire is little-endian; keeping the shifts in one place
// means a payload codec never spells out a byte order of its own.
//
// Readers do not check bounds: callers check `size <= bytes.size() - offset`
// (by subtraction, so a length from the wire cannot overflow) before reading.
namespace simbytes {

inline bool fits(const QByteArray &bytes, int offset, int size)
{
    return offset >= 0 && size >= 0 && offset <= bytes.size() && size <= bytes.size() - offset;
}

inline const uchar *at(const QByteArray &bytes, int offset)
{
    return reinterpret_cast<const uchar *>(bytes.constData()) + offset;
}

inline quint8 u8(const QByteArray &bytes, int offset)
{
    return static_cast<quint8>(bytes.at(offset));
}

inline quint16 u16(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(at(bytes, offset));
}

inline quint32 u32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(at(bytes, offset));
}

inline quint64 u64(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint64>(at(bytes, offset));
}

inline qint64 i64(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<qint64>(at(bytes, offset));
}

inline float f32(const QByteArray &bytes, int offset)
{
    const quint32 bits = u32(bytes, offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline double f64(const QByteArray &bytes, int offset)
{
    const quint64 bits = u64(bytes, offset);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template<typename T>
inline void append(QByteArray &bytes, T value)
{
    uchar raw[sizeof(T)];
    qToLittleEndian<T>(value, raw);
    bytes.append(reinterpret_cast<const char *>(raw), int(sizeof(T)));
}

inline void appendU8(QByteArray &bytes, quint8 value) { bytes.append(char(value)); }
inline void appendU16(QByteArray &bytes, quint16 value) { append<quint16>(bytes, value); }
inline void appendU32(QByteArray &bytes, quint32 value) { append<quint32>(bytes, value); }
inline void appendU64(QByteArray &bytes, quint64 value) { append<quint64>(bytes, value); }
inline void appendI64(QByteArray &bytes, qint64 value) { append<qint64>(bytes, value); }

inline void appendF32(QByteArray &bytes, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendU32(bytes, bits);
}

inline void appendF64(QByteArray &bytes, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendU64(bytes, bits);
}

// Stores into a buffer the caller has sized; the packet generator fills its
// sample blocks this way without growing a QByteArray per sample.
template<typename T>
inline void store(char *dst, T value)
{
    qToLittleEndian<T>(value, dst);
}

} // namespace simbytes
