#pragma once

#include "SimFaults.h"

#include <QByteArray>
#include <QRandomGenerator>

// Decides, request by request, which of the configured faults apply.
class SimFaultInjector
{
public:
    enum Action {
        Answer,          // handle and answer as usual
        Ignore,          // silent: neither handle nor answer
        AnswerThenClose, // answer, then close the connection once the answer has left
    };

    void setFaults(const SimFaults &faults) { m_faults = faults; }
    const SimFaults &faults() const { return m_faults; }
    SimFaults &faults() { return m_faults; }

    // A new connection: the per-connection count starts again. True when the
    // connection is to be closed right away (drop after 0 frames).
    bool connectionStarted();
    Action onRequest();
    bool garbageActive() const;
    // True, with the code, when answers to this command are to fail.
    bool failAck(quint16 command, quint16 *ack) const;
    // True once when the state is the one to drop the connection in.
    bool dropInState(int state);

    // Random bytes from a fixed seed: the same fault run twice sends the same
    // garbage.
    QByteArray garbage(int size);

private:
    SimFaults m_faults;
    int m_frames = 0;
    QRandomGenerator m_random{0xD5A1u};
};
