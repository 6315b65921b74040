#include "QlpConverter_v2.h"

#include "QlpCodec.h"

#include <QDebug>

static_assert(qlp::kMinMemorySize <= 132000, "converter storage smaller than the codec needs");

QlpConverter_v2::QlpConverter_v2(bool withoutCodec)
    : QObject(nullptr)
{
    if (withoutCodec)
        return;
    m_memory.reset(new unsigned char[kCodecMemorySize]);
    m_codec = qlp::init(m_memory.get(), kCodecMemorySize);
    qlp::setTransmitHandler(m_codec, &QlpConverter_v2::transmitHandler);
    qlp::setResponseHandler(m_codec, &QlpConverter_v2::responseHandler);
}

QlpConverter_v2::~QlpConverter_v2() = default;

int QlpConverter_v2::receiveData(const QByteArray &data)
{
    if (!m_codec)
        return -1;
    return qlp::receive(m_codec, reinterpret_cast<const unsigned char *>(data.constData()),
                        static_cast<std::size_t>(data.size()), this);
}

int QlpConverter_v2::sendCommand(quint16 command, const QByteArray &data)
{
    if (!m_codec) {
        qWarning() << "[DRAVIK::QlpConverter]" << "invalid QLP handle";
        return -1;
    }
    return qlp::send(m_codec, static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command & 0xFF),
                     reinterpret_cast<const unsigned char *>(data.constData()), static_cast<std::size_t>(data.size()),
                     this);
}

void QlpConverter_v2::resetReceiveState()
{
    qlp::resetReceive(m_codec);
}

int QlpConverter_v2::transmitHandler(const unsigned char *frame, std::size_t length, void *user)
{
    auto *self = static_cast<QlpConverter_v2 *>(user);
    // A frame is at most 4 + 65535 bytes, well inside QByteArray's int size.
    emit self->frameToTransmit(QByteArray(reinterpret_cast<const char *>(frame), static_cast<int>(length)));
    return 0;
}

int QlpConverter_v2::responseHandler(qlp::Codec *, std::uint8_t group, std::uint8_t command, std::uint16_t ackCode,
                                     std::uint16_t stateCode, const unsigned char *payload, std::size_t length,
                                     void *user)
{
    auto *self = static_cast<QlpConverter_v2 *>(user);
    emit self->receivedResponse(group, command, stateCode, ackCode,
                                QByteArray(reinterpret_cast<const char *>(payload), static_cast<int>(length)));
    return 0;
}
