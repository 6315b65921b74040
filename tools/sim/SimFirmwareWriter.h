#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

// Writes a received firmware image to the (imaginary) flash after a write
// order 0x0F03 {transfer id u32, mode u8}: it answers at once with a progress
// reply, then one per step, then the end reply.
//
// Progress reply (12 bytes): transfer id u32, image size u32, bytes written
// u32. End reply: empty payload, acknowledge 0. The mode byte selects what is
// written (0 default, 1 partition 1 application, 2 all, 3 partition 0
// application); the image is not interpreted. The detector does not restart
// afterwards: the simulator keeps its identity.
class SimFirmwareWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr quint8 kLastMode = 3;

    explicit SimFirmwareWriter(QObject *parent = nullptr);

    // steps progress replies after the first, stepMs apart.
    void setPacing(int stepMs, int steps);
    bool isWriting() const { return m_writing; }
    // Returns the acknowledge code of the write order; on 0 the replies follow.
    quint16 begin(quint32 transferId, quint8 mode, const QByteArray &image);

signals:
    // One 0x0F03 reply: a 12-byte progress payload or the empty end payload.
    void reply(QByteArray payload);
    void written(QByteArray image, quint8 mode);

private:
    void step();
    QByteArray progressPayload() const;

    QTimer m_timer;
    int m_stepMs = 20;
    int m_steps = 10;
    int m_step = 0;
    bool m_writing = false;
    quint32 m_transferId = 0;
    quint8 m_mode = 0;
    QByteArray m_image;
};
