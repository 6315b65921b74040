#include "SimConnectionWriter.h"

#include "SimPacketStream.h"

#include <QTcpSocket>

SimConnectionWriter::SimConnectionWriter(QTcpSocket *socket, StateCode stateCode, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_stateCode(std::move(stateCode))
    , m_dueTimer(this)
    , m_splitTimer(this)
{
    m_clock.start();
    m_dueTimer.setSingleShot(true);
    connect(&m_dueTimer, &QTimer::timeout, this, &SimConnectionWriter::pump);
    m_splitTimer.setSingleShot(true);
    connect(&m_splitTimer, &QTimer::timeout, this, [this] {
        m_awaitingWrite = false;
        pump();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_splitBytes > 0 && m_awaitingWrite) {
            m_splitTimer.start(kSplitGapMs);
            return;
        }
        if (m_pumping)
            m_repump = true; // the running pass goes round once more
        else
            pump();
    });
}

void SimConnectionWriter::sendFrame(const QByteArray &frame)
{
    if (m_closing)
        return;
    m_frames.push_back({m_clock.elapsed() + m_delayMs, frame, nullptr});
    pump();
}

void SimConnectionWriter::sendStream(std::shared_ptr<SimPacketStream> stream)
{
    if (m_closing) {
        emit streamDone();
        return;
    }
    m_streams.push_back({m_clock.elapsed() + m_delayMs, QByteArray(), std::move(stream)});
    pump();
}

void SimConnectionWriter::closeWhenDrained()
{
    m_closing = true;
    cancelStreams();
    pump();
}

void SimConnectionWriter::cancelStreams()
{
    const std::size_t count = m_streams.size();
    m_streams.clear();
    for (std::size_t i = 0; i < count; ++i)
        emit streamDone();
}

qint64 SimConnectionWriter::unsentBytes() const
{
    return m_socket->bytesToWrite() + (m_out.size() - m_outPos);
}

void SimConnectionWriter::append(const QByteArray &frame)
{
    m_out.append(m_transform ? m_transform(frame) : frame);
}

void SimConnectionWriter::pump()
{
    if (m_pumping || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_pumping = true;
    do {
        // A write can report bytesWritten from inside itself (flush in split
        // mode); that asks for another pass instead of recursing.
        m_repump = false;
        pumpOnce();
    } while (m_repump && m_socket->state() == QAbstractSocket::ConnectedState);
    m_pumping = false;
}

void SimConnectionWriter::pumpOnce()
{
    const qint64 now = m_clock.elapsed();
    while (!m_frames.empty() && m_frames.front().dueMs <= now) {
        append(m_frames.front().frame);
        m_frames.pop_front();
    }
    // In split mode only one packet is made ahead, so that small writes do not
    // sit behind a megabyte of raw data.
    const qint64 limit = m_splitBytes > 0 ? 1 : kHighWater;
    while (!m_streams.empty() && m_streams.front().dueMs <= now && unsentBytes() < limit) {
        // Reading the state can change it, and a state change can close the
        // connection (drop-in-state fault) and drop the streams: ask first,
        // then look at the queue again.
        const quint16 state = m_stateCode();
        if (m_streams.empty())
            break;
        const std::shared_ptr<SimPacketStream> stream = m_streams.front().stream;
        append(stream->nextResponse(state));
        if (stream->atEnd() && !m_streams.empty() && m_streams.front().stream == stream) {
            m_streams.pop_front();
            emit streamDone();
        }
    }
    flush();
    scheduleNextDue(now);
    if (m_closing && m_frames.empty() && m_outPos == m_out.size())
        m_socket->disconnectFromHost();
}

void SimConnectionWriter::flush()
{
    if (m_outPos == m_out.size())
        return;
    if (m_splitBytes == 0) {
        m_socket->write(m_out.constData() + m_outPos, m_out.size() - m_outPos);
        m_out.clear();
        m_outPos = 0;
        return;
    }
    if (m_awaitingWrite)
        return;
    const int chunk = qMin(m_splitBytes, m_out.size() - m_outPos);
    m_socket->write(m_out.constData() + m_outPos, chunk);
    m_outPos += chunk;
    m_awaitingWrite = true;
    // Hand the small piece to the kernel now rather than when the event loop
    // next gets to it, so that it leaves as a segment of its own.
    m_socket->flush();
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    }
}

void SimConnectionWriter::scheduleNextDue(qint64 nowMs)
{
    qint64 next = -1;
    if (!m_frames.empty() && m_frames.front().dueMs > nowMs)
        next = m_frames.front().dueMs;
    if (!m_streams.empty() && m_streams.front().dueMs > nowMs)
        next = next < 0 ? m_streams.front().dueMs : qMin(next, m_streams.front().dueMs);
    if (next >= 0 && !m_dueTimer.isActive())
        m_dueTimer.start(int(next - nowMs));
}
