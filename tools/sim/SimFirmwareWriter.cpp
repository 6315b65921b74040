#include "SimFirmwareWriter.h"

#include "SimByteOrder.h"
#include "SimProtocol.h"

SimFirmwareWriter::SimFirmwareWriter(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    connect(&m_timer, &QTimer::timeout, this, &SimFirmwareWriter::step);
}

void SimFirmwareWriter::setPacing(int stepMs, int steps)
{
    m_stepMs = qMax(0, stepMs);
    m_steps = qMax(1, steps);
}

quint16 SimFirmwareWriter::begin(quint32 transferId, quint8 mode, const QByteArray &image)
{
    if (m_writing)
        return SimProtocol::AckBusy;
    if (mode > kLastMode)
        return SimProtocol::AckBadValue;
    m_writing = true;
    m_transferId = transferId;
    m_mode = mode;
    m_image = image;
    m_step = 0;
    // The order is confirmed by the first progress reply, before any byte is written.
    emit reply(progressPayload());
    m_timer.start(m_stepMs);
    return SimProtocol::AckOk;
}

QByteArray SimFirmwareWriter::progressPayload() const
{
    QByteArray payload;
    simbytes::appendU32(payload, m_transferId);
    simbytes::appendU32(payload, quint32(m_image.size()));
    simbytes::appendU32(payload, quint32(qint64(m_image.size()) * m_step / m_steps));
    return payload;
}

void SimFirmwareWriter::step()
{
    if (!m_writing)
        return;
    ++m_step;
    if (m_step <= m_steps) {
        emit reply(progressPayload());
        return;
    }
    m_timer.stop();
    m_writing = false;
    emit reply(QByteArray());
    emit written(m_image, m_mode);
    m_image.clear();
}
