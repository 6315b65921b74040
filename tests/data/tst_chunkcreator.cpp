#include "DravikChunkCreator_v2.h"
#include "LogCapture.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSet>
#include <QThread>
#include <QtTest>

namespace {

const int kChannel = 1000;

QString line(const char *text) { return QStringLiteral("[DRAVIK.ChunkCreator]: ") + QLatin1String(text); }

QByteArray block(int round) { return QByteArray::number(round).leftJustified(16, '.'); }

int makeChunk(DravikChunkCreator_v2 &creator, quint64 stamp, const QByteArray &data)
{
    creator.addSlice(stamp, data);
    const QList<int> tokens = creator.collectChunks(stamp, stamp, false);
    return tokens.size() == 1 ? tokens.first() : -1;
}

class QuietDebug
{
public:
    QuietDebug() { QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=false")); }
    ~QuietDebug() { QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=true")); }
};

} // namespace

class tst_ChunkCreator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=true"));
    }

    void chunks_data()
    {
        QTest::addColumn<QString>("slices"); // "stamp:hex" in arrival order
        QTest::addColumn<qulonglong>("start");
        QTest::addColumn<qulonglong>("end");
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<double>("startTime");
        QTest::addColumn<double>("triggerTime");
        QTest::addColumn<QString>("status");

        // Repeated stamps, an inclusive end, nothing up to the end and no
        // slices at all: matchesOrderedJoin's model.
        QTest::newRow("out of order, end between") << "300:0303 100:0101 200:0202" << 90ull << 250ull
                                                   << QByteArray("01010202") << 100e-9 << 90e-9
                                                   << QStringLiteral("slices remaining 1");
        QTest::newRow("start does not bound the selection")
            << "100:01 200:02" << 150ull << 200ull << QByteArray("0102") << 100e-9 << 150e-9 << QString();
        QTest::newRow("seconds from unsigned nanoseconds")
            << "9223372036854775808:77" << 0xffffffffffffffffull << 0xffffffffffffffffull << QByteArray("77")
            << 9223372036.854775808 << 18446744073.709551615 << QString();
    }

    void chunks()
    {
        QFETCH(QString, slices);
        QFETCH(qulonglong, start);
        QFETCH(qulonglong, end);
        QFETCH(QByteArray, chunk);
        QFETCH(double, startTime);

        DravikChunkCreator_v2 creator(kChannel);
        for (const QString &slice : slices.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            creator.addSlice(slice.section(QLatin1Char(':'), 0, 0).toULongLong(),
                             QByteArray::fromHex(slice.section(QLatin1Char(':'), 1).toLatin1()));
        LogCapture log;
        const QList<int> tokens = creator.collectChunks(start, end, false);
        QTEST(creator.statusText(), "status");
        QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")),
                 QStringList{line("channel 1000 : no slices available")});
        QCOMPARE(tokens.size(), 1);
        QVERIFY(tokens.first() >= 0 && tokens.first() < DravikChunkCreator_v2::kTokenRange);
        const ChannelData data = creator.takeToken(tokens.first());
        QVERIFY(data.data);
        QCOMPARE(data.data->toHex(), chunk);
        QCOMPARE(data.startTime, startTime);
        QCOMPARE(data.markers.size(), 1);
        QCOMPARE(data.markers.first().kind, int(ChannelData::MarkerTrigger));
        QTEST(data.markers.first().time, "triggerTime");
        QVERIFY(!data.markers.first().value.isValid());
    }

    void matchesOrderedJoin()
    {
        // Against the rule itself (an ordered map joined up to the end, the
        // first time is the chunk's): mostly rising times, now and then a
        // repeated, past or later one, empty slices, and two transfers of
        // megabytes (the second one's reserve asks for huge pages).
        QuietDebug quiet;
        DravikChunkCreator_v2 creator(kChannel, 1000);
        QMap<quint64, QByteArray> model;
        QRandomGenerator random(11);
        quint64 now = 1000;
        for (int transfer = 0; transfer < 400; ++transfer) {
            const int count = int(random.bounded(6));
            for (int i = 0; i < count; ++i) {
                now += 1 + random.bounded(3);
                quint64 stamp = now;
                const int twist = int(random.bounded(16));
                if (twist == 0)
                    stamp = now - random.bounded(6); // repeated or from the past
                else if (twist == 1)
                    stamp = now + 40; // beyond this transfer's end
                const int size = (transfer == 200 || transfer == 201) && i == 0 ? (9 << 20) + 5
                                                                                : int(random.bounded(5)) * 3;
                QByteArray data(size, Qt::Uninitialized);
                for (int k = 0; k < size; ++k)
                    data[k] = char(stamp * 31 + quint64(k) * 7 + quint64(k >> 12));
                creator.addSlice(stamp, data);
                model.insert(stamp, data);
            }

            const quint64 end = now;
            QByteArray want;
            quint64 first = 0;
            for (auto it = model.begin(); it != model.end() && it.key() <= end; it = model.erase(it)) {
                if (want.isEmpty() && first == 0)
                    first = it.key();
                want += it.value();
            }
            const QList<int> tokens = creator.collectChunks(end, end, false);
            const QString at = QStringLiteral("transfer %1").arg(transfer);
            QVERIFY2(tokens.size() == (want.isEmpty() ? 0 : 1), qPrintable(at));
            if (!want.isEmpty()) {
                const ChannelData chunk = creator.takeToken(tokens.first());
                QVERIFY2(chunk.data && *chunk.data == want, qPrintable(at));
                QVERIFY2(chunk.startTime == double(first) * 1e-9, qPrintable(at));
            }
            QCOMPARE(creator.statusText(),
                     model.isEmpty() ? QString() : QStringLiteral("slices remaining %1").arg(model.size()));
        }
        QCOMPARE(creator.outstandingChunks(), 0);
    }

    void tokenIsTakenOnce()
    {
        DravikChunkCreator_v2 creator(kChannel);
        const int token = makeChunk(creator, 10, QByteArray("abc"));
        QCOMPARE(*creator.takeToken(token).data, QByteArray("abc"));
        LogCapture log;
        QVERIFY(creator.takeToken(token).isEmpty());
        QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")), QStringList{line("unknown token ") + QString::number(token)});
    }

    // The memory of a chunk the host let go is filled by a later transfer;
    // a chunk whose bytes the host still holds a copy of is never reused.
    void chunkMemoryIsReusedOnlyWhenFree()
    {
        const auto pool = ChunkBufferPool::create();
        DravikChunkCreator_v2 creator(kChannel, DravikChunkCreator_v2::kDefaultMaxOutstanding, pool);
        const QByteArray half(ChunkBufferPool::kMinBytes, 'a');
        const auto transfer = [&](quint64 stamp, char fill) {
            creator.addSlice(stamp, half);
            creator.addSlice(stamp + 1, QByteArray(half.size(), fill));
            const QList<int> tokens = creator.collectChunks(stamp, stamp + 1, false);
            return tokens.size() == 1 ? creator.takeToken(tokens.first()) : ChannelData();
        };
        QByteArray kept = *transfer(10, 'b').data; // the host keeps the bytes
        QCOMPARE(pool->buffersKept(), 0);
        ChannelData second = transfer(20, 'c');
        const char *memory = second.data->constData();
        second = ChannelData();
        QCOMPARE(pool->buffersKept(), 1);
        const ChannelData third = transfer(30, 'd');
        QCOMPARE(pool->buffersKept(), 0);
        QCOMPARE(third.data->constData(), memory);
        QCOMPARE(*third.data, half + QByteArray(half.size(), 'd'));
        QCOMPARE(kept, half + QByteArray(half.size(), 'b'));
        // A chunk the host lets go after the device closed is not kept.
        ChannelData late = transfer(40, 'e');
        pool->clear();
        late = ChannelData();
        QCOMPARE(pool->buffersKept(), 0);
    }

    // Slices of a transfer that never ended go, whether joined in a run or
    // out of order; a chunk waiting for the host stays, and the next chunk
    // holds nothing of the old transfer.
    void unfinishedTransferIsDiscarded()
    {
        DravikChunkCreator_v2 creator(kChannel);
        const int waiting = makeChunk(creator, 5, QByteArray("kept"));
        creator.addSlice(10, QByteArray("run"));
        creator.addSlice(20, QByteArray("more"));
        creator.addSlice(15, QByteArray("x")); // out of order: the map
        QCOMPARE(creator.discardSlices(), qint64(8));
        QCOMPARE(creator.discardSlices(), qint64(0));
        QCOMPARE(creator.statusText(), QString());
        QCOMPARE(*creator.takeToken(makeChunk(creator, 30, QByteArray("new"))).data, QByteArray("new"));
        QCOMPARE(*creator.takeToken(waiting).data, QByteArray("kept"));
    }

    void bound_data()
    {
        QTest::addColumn<int>("maxOutstanding");
        QTest::addColumn<int>("chunks");
        QTest::addColumn<QStringList>("warnings");

        const QString one = line("channel 1000 : dropped 1 chunk(s) the host did not take");
        QTest::newRow("at the bound") << 3 << 3 << QStringList();
        QTest::newRow("one beyond") << 3 << 4 << QStringList{one};
        QTest::newRow("three beyond") << 3 << 6 << QStringList{one, one, one};
        QTest::newRow("bound below one means one") << 0 << 2 << QStringList{one};
        // Every token in use: the draw still ends, with the dropped chunk's token.
        const int range = DravikChunkCreator_v2::kTokenRange;
        QTest::newRow("token range full") << range << range + 1 << QStringList{one};
    }

    void bound()
    {
        QFETCH(int, maxOutstanding);
        QFETCH(int, chunks);

        QuietDebug quiet;
        DravikChunkCreator_v2 creator(kChannel, maxOutstanding);
        LogCapture log;
        QList<int> tokens;
        for (int i = 0; i < chunks; ++i) {
            tokens.append(makeChunk(creator, quint64(i + 1), block(i)));
            QVERIFY(tokens.last() >= 0 && tokens.last() < DravikChunkCreator_v2::kTokenRange);
        }
        QTEST(log.texts(QtWarningMsg, QStringLiteral("dravik")), "warnings");

        const int kept = qMin(chunks, qMax(1, maxOutstanding));
        QCOMPARE(creator.outstandingChunks(), kept);
        const QList<int> live = tokens.mid(chunks - kept);
        QCOMPARE(QSet<int>(live.begin(), live.end()).size(), kept);
        for (int i = chunks - kept; i < chunks; ++i)
            QCOMPARE(*creator.takeToken(tokens.at(i)).data, block(i));
        QCOMPARE(creator.outstandingChunks(), 0);

        log.clear();
        for (int i = 0; i < kept; ++i)
            QVERIFY(makeChunk(creator, quint64(100 + i), block(i)) >= 0);
        QCOMPARE(log.texts(QtWarningMsg, QStringLiteral("dravik")), QStringList());
    }

    void takeFromAnotherThread()
    {
        const int rounds = 3000;
        QuietDebug quiet;
        DravikChunkCreator_v2 creator(kChannel, rounds);
        std::vector<int> tokens(rounds);
        QSemaphore available;
        int bad = 0;
        QScopedPointer<QThread> host(QThread::create([&] {
            for (int round = 0; round < rounds; ++round) {
                available.acquire();
                const ChannelData data = creator.takeToken(tokens[round]);
                // Taking it again is not checked here: the freed token may
                // already belong to the next round's chunk.
                if (!data.data || *data.data != block(round) + block(round + 1))
                    ++bad;
                creator.statusText();
            }
        }));
        host->start();

        for (int round = 0; round < rounds; ++round) {
            const quint64 stamp = quint64(round) * 2;
            creator.addSlice(stamp + 1, block(round + 1));
            creator.addSlice(stamp, block(round));
            creator.addSlice(stamp + 2 + 1000000, QByteArray("later"));
            const QList<int> collected = creator.collectChunks(stamp, stamp + 1, false);
            QCOMPARE(collected.size(), 1);
            tokens[round] = collected.first();
            available.release();
        }
        QVERIFY(host->wait(60000));
        QCOMPARE(bad, 0);
        QCOMPARE(creator.outstandingChunks(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ChunkCreator)
#include "tst_chunkcreator.moc"
