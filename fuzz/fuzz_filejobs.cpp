// Fuzz target for the reply handlers of the three file jobs
// (files/DravikFileTransfer_v2, DravikUpdateFirmware_v2, LogFileReader_v2),
// wired as the protocol handler wires them, driven by a sequence of replies
// and link events.
//
// Input: bytes 0 and 1 give the image size (u16 little-endian, doubled, plus
// bit 0 of byte 2: 0 to 131071 bytes, so 0, 65000, 65001 and 130000 are all
// reachable); byte 3 is the mode byte. An update of that image is started,
// then each record is [selector][ack][length][length payload bytes], cut off
// at the end of the input. Selector bits 0 to 2:
//   0 0x0F60, 1 0x0F61, 2 0x0F80, 3 0x0F81 to the transfer job,
//   4 0x0F03 to the firmware job, 5 0x0F04 to the log reader,
//   6 link lost (the firmware job's onConnectionChanged(false), then every
//     job's onDisconnect, in the protocol handler's order),
//   7 a request: bit 3 set, a log read (bit 4 picks a real file or none);
//     clear, another update of the image.
// For replies, bit 3 writes the newest transfer id over payload bytes 0 to 3,
// bit 4 writes the offset of the last block sent over bytes 4 to 7 (0x0F61)
// or the right checksum over bytes 12 to 15 (0x0F80), where they exist, so
// that the fuzzer reaches the paths behind the id and checksum checks.
//
// Beyond not crashing, every input must satisfy:
//  1. every block sent belongs to an open transfer, starts inside the file
//     and carries min(size - offset, 65000) bytes of the file from there;
//     every checksum request names an open transfer; a reply makes the
//     transfer job send at most one request;
//  2. status 2 only for a checksum reply carrying the right checksum, status
//     3 only for a refusal (a checksum reply refuses only when too short to
//     be read) or a wrong checksum, and the transfer is closed by
//     either; progress is never NaN or negative; open transfers stay bounded;
//  3. firmware states are 0 to 8 but never 4, with their description; the
//     write order is sent only on a successful transfer of the current
//     update, as {id, mode}; a write reply or a lost link leaves the job idle;
//  4. the reader's buffer is the pieces since the last request, capped, and
//     an end marker writes exactly that to the named file; a refused read
//     (ack 1 to 7) changes neither.
#include "Crc32_v2.h"
#include "DravikFileTransfer_v2.h"
#include "DravikUpdateFirmware_v2.h"
#include "LogFileReader_v2.h"

#include <QByteArray>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_filejobs: %s\n", what);
    std::abort();
}

void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// Ids in a fixed order, so that every input replays the same way.
class CountingIds : public DravikFileTransfer_v2
{
public:
    quint32 next = 0x1000;

protected:
    quint32 drawTransferId() override { return next++; }
};

struct Environment
{
    Environment()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        qInstallMessageHandler(&silence);
        check(dir.isValid(), "no temporary folder");
    }
    QTemporaryDir dir;
};

Environment &environment()
{
    static Environment instance;
    return instance;
}

quint32 u32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

void put32(QByteArray &bytes, int offset, quint32 value)
{
    if (bytes.size() - offset >= 4)
        qToLittleEndian(value, bytes.data() + offset);
}

struct Harness
{
    QByteArray image;
    quint8 mode = 0;
    quint32 imageCrc = 0;

    CountingIds transfer;
    DravikUpdateFirmware_v2 firmware{&transfer};
    LogFileReader_v2 reader;

    // What the harness knows of the transfer job.
    QHash<quint32, quint32> lastBlockOffset; // open transfers: offset of the last block sent
    quint32 newestId = 0;
    int transferRequests = 0;
    // The reply being handled, to judge the reports it causes.
    quint16 replyCommand = 0;
    quint16 replyAck = 0;
    QByteArray replyPayload;
    bool inReply = false;
    // The firmware job's current transfer, as its reports show it.
    quint32 updateId = 0;
    // The log reader.
    QByteArray logModel;
    QString logFile;

    Harness(const QByteArray &file, quint8 modeByte)
        : image(file)
        , mode(modeByte)
        , imageCrc(Crc32_v2::checksum(file))
    {
        QObject::connect(&transfer, &AbstractJobHandler_v2::sendQlpCommand, [this](quint16 command, QByteArray data) {
            onTransferRequest(command, data);
        });
        QObject::connect(&transfer, &DravikFileTransfer_v2::transferState,
                         [this](qint32 status, quint32 id, double progress) { onTransferState(status, id, progress); });
        QObject::connect(&firmware, &AbstractJobHandler_v2::sendQlpCommand, [this](quint16 command, QByteArray data) {
            check(command == 0x0F03, "firmware job sent something other than the write order");
            // Sent from inside the transfer's success report, before that
            // report reaches the harness: judge it by the reply being handled.
            check(firmware.isRunning() && inReply && replyCommand == 0x0F80 && replyPayload.size() >= 16 &&
                      u32(replyPayload, 0) == updateId && u32(replyPayload, 12) == imageCrc,
                  "write order without a successful transfer of the current update");
            check(data.size() == 5 && u32(data, 0) == updateId && quint8(data.at(4)) == mode,
                  "write order is not {id, mode}");
        });
        QObject::connect(&firmware, &AbstractFirmwareJob_v2::processState,
                         [this](qint32 state, double progress, QString text) {
                             check(state >= 0 && state <= 8 && state != 4, "firmware state out of the sequence");
                             check(!std::isnan(progress) && progress >= 0.0, "firmware progress NaN or negative");
                             check(text == firmware.stateText(state) && !text.isEmpty(), "state without description");
                         });
    }

    void onTransferRequest(quint16 command, const QByteArray &data)
    {
        ++transferRequests;
        switch (command) {
        case 0x0F60: {
            check(data.size() == 16, "announcement is not 16 bytes");
            const quint32 id = u32(data, 0);
            check(u32(data, 8) == quint32(image.size()) && u32(data, 12) == imageCrc, "announcement of another file");
            lastBlockOffset.insert(id, 0);
            newestId = id;
            break;
        }
        case 0x0F61: {
            check(data.size() >= 8, "block without header");
            const quint32 id = u32(data, 0);
            const quint32 offset = u32(data, 4);
            check(lastBlockOffset.contains(id), "block for a transfer that is not open");
            check(offset < quint32(image.size()), "block outside the file");
            const int length = qMin(image.size() - int(offset), int(DravikFileTransfer_v2::kBlockSize));
            check(data.size() - 8 == length, "block of the wrong length");
            check(data.mid(8) == image.mid(int(offset), length), "block bytes differ from the file");
            lastBlockOffset[id] = offset;
            break;
        }
        case 0x0F80:
            check(data.size() == 4 && lastBlockOffset.contains(u32(data, 0)), "checksum request for no open transfer");
            break;
        default:
            fail("transfer job sent an unknown command");
        }
    }

    void onTransferState(qint32 status, quint32 id, double progress)
    {
        check(!std::isnan(progress) && progress >= 0.0, "transfer progress NaN or negative");
        switch (status) {
        case 0:
            check(!inReply, "start report from a reply");
            break;
        case 1:
            check(inReply && replyCommand == 0x0F61 && replyAck == 0, "block report without an accepted block");
            break;
        case 2:
            check(inReply && replyCommand == 0x0F80 && replyPayload.size() >= 16 && u32(replyPayload, 12) == imageCrc,
                  "success without the right checksum");
            break;
        case 3:
            check(inReply &&
                      (((replyCommand == 0x0F60 || replyCommand == 0x0F61) && replyAck != 0) ||
                       (replyCommand == 0x0F80 && replyPayload.size() >= 16 && u32(replyPayload, 12) != imageCrc) ||
                       (replyCommand == 0x0F80 && replyPayload.size() < 16 && AbstractJobHandler_v2::isRefusal(replyAck))),
                  "failure without a refusal or a wrong checksum");
            break;
        default:
            fail("unknown transfer status");
        }
        if (status >= 2) {
            check(!transfer.isOpen(id), "finished transfer still open");
            lastBlockOffset.remove(id);
        }
        // Only the firmware job adds transfers here, so the newest start is its update.
        if (status == 0)
            updateId = id;
    }

    void reply(quint8 selector, quint16 ack, QByteArray payload)
    {
        static const quint16 commands[] = {0x0F60, 0x0F61, 0x0F80, 0x0F81, 0x0F03, 0x0F04};
        const quint16 command = commands[selector & 7];
        if (selector & 0x08)
            put32(payload, 0, newestId);
        if ((selector & 0x10) && command == 0x0F61)
            put32(payload, 4, lastBlockOffset.value(newestId));
        if ((selector & 0x10) && command == 0x0F80)
            put32(payload, 12, imageCrc);

        replyCommand = command;
        replyAck = ack;
        replyPayload = payload;
        inReply = true;
        const int before = transferRequests;
        switch (command) {
        case 0x0F03:
            firmware.onQlpPacket(command, 0, ack, payload);
            check(!firmware.isRunning(), "a write reply left the update running");
            break;
        case 0x0F04:
            reader.onQlpPacket(command, 0, ack, payload);
            onLogReply(ack, payload);
            break;
        default:
            transfer.onQlpPacket(command, 0, ack, payload);
            break;
        }
        inReply = false;
        check(transferRequests - before <= 1, "one reply caused more than one transfer request");
        check(transfer.openTransfers() <= DravikFileTransfer_v2::kMaxOpenTransfers, "open transfers unbounded");
    }

    void onLogReply(quint16 ack, const QByteArray &payload)
    {
        if (AbstractJobHandler_v2::isRefusal(ack)) {
            // Nothing taken, nothing written.
        } else if (!payload.isEmpty()) {
            logModel.append(payload.left(LogFileReader_v2::acceptedLength(logModel.size(), payload.size())));
        } else if (!logFile.isEmpty()) {
            QFile file(logFile);
            check(file.open(QIODevice::ReadOnly) && file.readAll() == logModel, "log file differs from the pieces");
        }
        check(reader.buffer() == logModel, "log buffer differs from the pieces");
        check(reader.buffer().size() <= LogFileReader_v2::kMaxLogSize, "log buffer over its cap");
    }

    void linkLost()
    {
        firmware.onConnectionChanged(false);
        check(!firmware.isRunning(), "update still running after the link was lost");
        transfer.onDisconnect();
        reader.onDisconnect();
        firmware.onDisconnect();
        check(transfer.openTransfers() == 0, "transfers survived the lost link");
        lastBlockOffset.clear();
    }

    void request(quint8 selector)
    {
        if (selector & 0x08) {
            logFile = (selector & 0x10) ? environment().dir.filePath(QStringLiteral("device.log")) : QString();
            QFile::remove(logFile);
            reader.readLogFile(logFile);
            logModel.clear();
            check(reader.buffer().isEmpty(), "a new log request kept old bytes");
            return;
        }
        const bool wasRunning = firmware.isRunning();
        const int before = transferRequests;
        firmware.onUpdateFirmware(image, mode);
        if (wasRunning)
            check(transferRequests == before, "a second update started a transfer");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    environment();
    if (size < 4)
        return 0;
    const int imageSize = int(((data[0] | data[1] << 8) << 1) | (data[2] & 1));
    QByteArray image(imageSize, '\0');
    for (int i = 0; i < imageSize; ++i)
        image[i] = char((i * 131 + (i >> 9)) & 0xFF);
    Harness h(image, data[3]);
    h.request(0);

    size_t pos = 4;
    while (size - pos >= 3) {
        const quint8 selector = data[pos];
        const quint16 ack = data[pos + 1];
        const size_t length = qMin<size_t>(data[pos + 2], size - pos - 3);
        const QByteArray payload(reinterpret_cast<const char *>(data + pos + 3), int(length));
        pos += 3 + length;
        switch (selector & 7) {
        case 6:
            h.linkLost();
            break;
        case 7:
            h.request(selector);
            break;
        default:
            h.reply(selector, ack, payload);
            break;
        }
    }
    return 0;
}
