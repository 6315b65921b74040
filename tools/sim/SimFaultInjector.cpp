#include "SimFaultInjector.h"

bool SimFaultInjector::connectionStarted()
{
    m_frames = 0;
    if (m_faults.dropAfterFrames == 0) {
        m_faults.dropAfterFrames = -1;
        return true;
    }
    return false;
}

SimFaultInjector::Action SimFaultInjector::onRequest()
{
    ++m_frames;
    if (m_faults.silentAfterFrames >= 0 && m_frames > m_faults.silentAfterFrames)
        return Ignore;
    if (m_faults.dropAfterFrames > 0 && m_frames >= m_faults.dropAfterFrames) {
        m_faults.dropAfterFrames = -1;
        return AnswerThenClose;
    }
    return Answer;
}

bool SimFaultInjector::garbageActive() const
{
    return m_faults.garbageAfterFrames >= 0 && m_frames > m_faults.garbageAfterFrames;
}

bool SimFaultInjector::failAck(quint16 command, quint16 *ack) const
{
    const auto it = m_faults.failAck.constFind(command);
    if (it == m_faults.failAck.constEnd())
        return false;
    *ack = it.value();
    return true;
}

bool SimFaultInjector::dropInState(int state)
{
    if (m_faults.dropInState < 0 || m_faults.dropInState != state)
        return false;
    m_faults.dropInState = -1;
    return true;
}

QByteArray SimFaultInjector::garbage(int size)
{
    // Whole words from the generator, then cut to size: frames of raw data are
    // 64 KiB each.
    QByteArray bytes((qMax(0, size) + 3) & ~3, Qt::Uninitialized);
    m_random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    bytes.resize(qMax(0, size));
    return bytes;
}
