#pragma once

#include "AbstractFirmwareJob_v2.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QString>

class DravikFileTransfer_v2;

// Installs a firmware image on the detector: hands the image to the file
// transfer job, orders the detector to write it (0x0F03) once it holds the
// whole image with a matching checksum, and follows the writing to its end.
// Every step is reported through processState as a numbered state; the
// protocol handler relays the reports to the device and pauses the alive
// supervision between state 0 and one of 3, 6 or 7.
//
// The image is opaque: its bytes go to the detector unchanged.
class DravikUpdateFirmware_v2 : public AbstractFirmwareJob_v2
{
    Q_OBJECT

public:
    enum State {
        TransferStarted = 0,
        Transfering = 1,
        TransferSuccessful = 2,
        TransferFailed = 3,
        WritingStarted = 4, // described, but no step of the sequence reports it
        Writing = 5,
        WritingSuccessful = 6,
        WritingFailed = 7,
        UpdateFailed = 8
    };
    Q_ENUM(State)

    static constexpr quint16 kWriteFirmwareCommand = 0x0F03;
    // Writing-progress reply: bytes 8 to 11 hold the bytes written so far.
    static constexpr int kWriteProgressSize = 12;

    // fileTransfer is not owned; both jobs live on the protocol thread.
    explicit DravikUpdateFirmware_v2(DravikFileTransfer_v2 *fileTransfer, QObject *parent = nullptr);

    QList<quint16> commands() const override;
    bool isRunning() const override { return m_running; }
    // The description reported with state; "state N" for one without a text.
    QString stateText(qint32 state) const;

    // {transferId, mode}: the write order.
    static QByteArray encodeWriteOrder(quint32 transferId, quint8 mode);
    // Bytes written so far from a progress reply; false for a shorter reply,
    // which (with acknowledge 0) is the end of writing.
    static bool decodeWriteProgress(const QByteArray &payload, quint32 *bytesWritten);

public Q_SLOTS:
    void onUpdateFirmware(QByteArray bitstream, quint8 mode) override;
    void onConnectionChanged(bool newState) override;
    void onTransferState(qint32 status, quint32 transferId, double progress);
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override;

private:
    using Handler = void (DravikUpdateFirmware_v2::*)(quint16 command, quint16 stateCode, quint16 ackCode,
                                                       const QByteArray &cmdData);

    void processCmdResponse_DoFirmwareUpdate(quint16 command, quint16 stateCode, quint16 ackCode,
                                             const QByteArray &cmdData);
    void reportState(qint32 state, double progress);

    QPointer<DravikFileTransfer_v2> m_fileTransfer;
    quint32 m_transferId = 0;
    quint8 m_updateMode = 0;
    bool m_running = false;
    quint32 m_firmwareSize = 0;
    QHash<qint32, QString> m_stateTexts;
    QHash<quint16, Handler> m_handlers;
};
