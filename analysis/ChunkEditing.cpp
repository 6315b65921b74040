#include "ChunkEditing.h"

#include "QxtLogger.h"

#include <QtMath>

#include <cmath>
#include <cstring>

namespace {
const char *const kTag = "[DravikWrapper]:";

QString lineOf(int line)
{
    return QStringLiteral("at line %1").arg(line);
}

QString seconds(double t)
{
    return QString::number(t, 'g', 15);
}
}

int ChunkEditing::sampleSize(int dataType)
{
    switch (dataType) {
    case 1:
    case 4:
    case 6:
        return 1;
    case 2:
    case 8:
        return 4;
    case 5:
        return 8;
    case 7:
        return 2;
    default:
        return 0;
    }
}

void ChunkEditing::cut(ChannelData &chunk, int channelId, double sampleRate, double start, double stop)
{
    QxtLogger *log = QxtLogger::getInstance();
    const int size = sampleSize(chunk.dataType);
    if (size == 0) {
        log->debug(kTag, "unknown datatype", chunk.dataType, lineOf(__LINE__));
        return;
    }
    if (!(sampleRate > 0)) {
        log->debug(kTag, "samplerate invalid", sampleRate, lineOf(__LINE__));
        return;
    }
    const qint64 total = chunk.data ? chunk.data->size() / size : 0;
    const double t0 = chunk.startTime;
    const double s = std::max(start, t0);
    qint64 skip = 0;
    double newStart = t0;
    if (s > t0) {
        skip = qint64((s - t0) * sampleRate + 0.5);
        newStart = t0 + double(skip) / sampleRate;
    }
    qint64 count = total - skip;
    if (stop > s)
        count = std::min(count, qint64((stop - s) * sampleRate + 0.5));
    log->debug(kTag, "Cut Channel:", channelId, "with Arguments start/stop", seconds(s), seconds(stop),
               "new startindex/samples", skip * size, count * size, "timestamp old/new", seconds(t0),
               seconds(newStart), lineOf(__LINE__));

    // The kept bytes are cut in place when this chunk holds the only
    // reference to them (the usual case: a chunk just taken): a PD record is
    // tens of MB, and a copy into fresh memory, every page faulted in, held
    // the host's thread for tens of ms per record. A block someone else
    // still holds is copied on the first change, as before.
    QSharedPointer<QByteArray> kept = QSharedPointer<QByteArray>::create();
    if (count >= 1 && stop > s && skip < total) {
        *kept = *chunk.data;
        chunk.data.reset();
        kept->truncate(int((skip + count) * size));
        kept->remove(0, int(skip * size));
    }
    chunk.data = kept;
    chunk.startTime = newStart;
    if (kept->isEmpty())
        log->warning(kTag, "Channeldata is empty after cutting", lineOf(__LINE__));
}

void ChunkEditing::zero(ChannelData &chunk, double sampleRate, double from, double to)
{
    const int size = sampleSize(chunk.dataType);
    if (!chunk.data || size == 0 || !(sampleRate > 0) || !(from < to))
        return;
    const qint64 n = chunk.data->size() / size;
    if (n < 1)
        return;
    const qint64 i0 = qBound<qint64>(0, qRound64((from - chunk.startTime) * sampleRate), n);
    const qint64 i1 = qBound<qint64>(0, qRound64((to - chunk.startTime) * sampleRate), n);
    if (i1 > i0)
        std::memset(chunk.data->data() + i0 * size, 0, size_t((i1 - i0) * size));
}
