#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class QTcpSocket;
class SimPacketStream;

// Everything the detector sends on one connection goes through here.
//
// Two queues: single response frames, which always go first, and raw data
// streams, which are pulled packet by packet only while the socket holds less
// than a high-water mark. So a measurement-state poll is answered within about
// a megabyte of raw data however large the frame in transfer, and a frame of
// tens of megabytes never sits in memory whole.
//
// The delay and split faults act here: a response becomes due only after the
// delay, and in split mode every write is cut to a few bytes, the next one
// leaving a millisecond after the socket reported the previous one written,
// so that the host really reads the pieces one by one.
class SimConnectionWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kHighWater = 1 << 20;
    static constexpr int kSplitGapMs = 1;

    using StateCode = std::function<quint16()>;
    using Transform = std::function<QByteArray(const QByteArray &)>;

    // stateCode gives the state code stamped on raw data responses as they
    // are made.
    SimConnectionWriter(QTcpSocket *socket, StateCode stateCode, QObject *parent = nullptr);

    void setDelay(int ms) { m_delayMs = qMax(0, ms); }
    void setSplit(int bytes) { m_splitBytes = qMax(0, bytes); }
    // Applied to every frame just before it is written (the garbage fault).
    void setTransform(Transform transform) { m_transform = std::move(transform); }

    void sendFrame(const QByteArray &frame);
    void sendStream(std::shared_ptr<SimPacketStream> stream);
    // Closes the connection once every single frame queued so far has been
    // written; streams still queued are dropped.
    void closeWhenDrained();
    // Drops every stream, reporting each as done.
    void cancelStreams();
    int queuedStreams() const { return int(m_streams.size()); }

signals:
    // One per stream: sent completely or dropped.
    void streamDone();

private:
    struct Pending
    {
        qint64 dueMs = 0;
        QByteArray frame;
        std::shared_ptr<SimPacketStream> stream;
    };

    void pump();
    void pumpOnce();
    void append(const QByteArray &frame);
    void flush();
    void scheduleNextDue(qint64 nowMs);
    qint64 unsentBytes() const;

    QTcpSocket *m_socket;
    StateCode m_stateCode;
    Transform m_transform;
    int m_delayMs = 0;
    int m_splitBytes = 0;
    std::deque<Pending> m_frames;
    std::deque<Pending> m_streams;
    QByteArray m_out; // bytes made but not yet handed to the socket (split mode)
    int m_outPos = 0;
    bool m_awaitingWrite = false;
    bool m_closing = false;
    bool m_pumping = false;
    bool m_repump = false;
    QElapsedTimer m_clock;
    QTimer m_dueTimer;
    QTimer m_splitTimer;
};
