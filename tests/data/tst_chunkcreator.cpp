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

QByteArray block(int round)
{
    QByteArray bytes(16, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((round >> (8 * (i % 4))) & 0xff);
    return bytes;
}

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
        QTest::addColumn<QList<qulonglong>>("stamps");
        QTest::addColumn<QByteArrayList>("slices");
        QTest::addColumn<qulonglong>("start");
        QTest::addColumn<qulonglong>("end");
        QTest::addColumn<QByteArray>("chunk"); // empty: no chunk expected
        QTest::addColumn<double>("startTime");
        QTest::addColumn<double>("triggerTime");
        QTest::addColumn<QString>("status");

        const auto hex = [](std::initializer_list<const char *> items) {
            QByteArrayList list;
            for (const char *item : items)
                list.append(QByteArray::fromHex(item));
            return list;
        };
        QTest::newRow("out of order, end between")
            << QList<qulonglong>{300, 100, 200} << hex({"0303", "0101", "0202"}) << 90ull << 250ull
            << QByteArray::fromHex("01010202") << 100e-9 << 90e-9 << QStringLiteral("slices remaining 1");
        QTest::newRow("same timestamp keeps the second")
            << QList<qulonglong>{100, 100} << hex({"aa", "bb"}) << 0ull << 100ull
            << QByteArray::fromHex("bb") << 100e-9 << 0.0 << QString();
        QTest::newRow("end is inclusive")
            << QList<qulonglong>{250, 100} << hex({"02", "01"}) << 100ull << 250ull
            << QByteArray::fromHex("0102") << 100e-9 << 100e-9 << QString();
        QTest::newRow("start does not bound the selection")
            << QList<qulonglong>{100, 200} << hex({"01", "02"}) << 150ull << 200ull
            << QByteArray::fromHex("0102") << 100e-9 << 150e-9 << QString();
        QTest::newRow("seconds from unsigned nanoseconds")
            << QList<qulonglong>{0x8000000000000000ull} << hex({"77"}) << 0xffffffffffffffffull
            << 0xffffffffffffffffull << QByteArray::fromHex("77") << 9223372036.854775808
            << 18446744073.709551615 << QString();
        QTest::newRow("nothing up to the end")
            << QList<qulonglong>{300} << hex({"03"}) << 0ull << 250ull << QByteArray() << 0.0 << 0.0
            << QStringLiteral("slices remaining 1");
        QTest::newRow("no slices at all")
            << QList<qulonglong>() << QByteArrayList() << 0ull << 250ull << QByteArray() << 0.0 << 0.0 << QString();
    }

    void chunks()
    {
        QFETCH(QList<qulonglong>, stamps);
        QFETCH(QByteArrayList, slices);
        QFETCH(qulonglong, start);
        QFETCH(qulonglong, end);
        QFETCH(QByteArray, chunk);
        QFETCH(double, startTime);
        QFETCH(double, triggerTime);
        QFETCH(QString, status);

        DravikChunkCreator_v2 creator(kChannel);
        for (int i = 0; i < stamps.size(); ++i)
            creator.addSlice(stamps.at(i), slices.at(i));
        LogCapture log;
        const QList<int> tokens = creator.collectChunks(start, end, false);
        QCOMPARE(creator.statusText(), status);
        QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")),
                 QStringList{line("channel 1000 : no slices available")});

        if (chunk.isEmpty()) {
            QCOMPARE(tokens.size(), 0);
            QCOMPARE(creator.outstandingChunks(), 0);
            return;
        }
        QCOMPARE(tokens.size(), 1);
        QVERIFY(tokens.first() >= 0 && tokens.first() < DravikChunkCreator_v2::kTokenRange);
        const ChannelData data = creator.takeToken(tokens.first());
        QVERIFY(data.data);
        QCOMPARE(data.data->toHex(), chunk.toHex());
        QCOMPARE(data.startTime, startTime);
        QCOMPARE(data.markers.size(), 1);
        QCOMPARE(data.markers.first().kind, int(ChannelData::MarkerTrigger));
        QCOMPARE(data.markers.first().time, triggerTime);
        QVERIFY(!data.markers.first().value.isValid());
    }

    void leftoverStartsNextChunk()
    {
        DravikChunkCreator_v2 creator(kChannel);
        for (quint64 stamp : {300, 100, 200})
            creator.addSlice(stamp, QByteArray(1, char(stamp / 100)));
        QCOMPARE(creator.collectChunks(0, 250, false).size(), 1);
        creator.addSlice(400, QByteArray(1, '\x04'));
        const QList<int> tokens = creator.collectChunks(260, 450, false);
        QCOMPARE(tokens.size(), 1);
        const ChannelData data = creator.takeToken(tokens.first());
        QCOMPARE(data.data->toHex(), QByteArray("0304"));
        QCOMPARE(data.startTime, 300e-9);
        QCOMPARE(creator.statusText(), QString());
    }

    void matchesOrderedJoin()
    {
        // Against the rule itself (slices in an ordered map, everything up to
        // the end joined in time order, the first time taken as the chunk's),
        // over transfers that mostly rise, with now and then a repeated time,
        // one from the past, or one beyond the end, empty slices, and two
        // transfers of megabytes (large enough for the reserve of the second
        // to ask for huge pages).
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
        QVERIFY(token >= 0);
        QCOMPARE(*creator.takeToken(token).data, QByteArray("abc"));

        LogCapture log;
        const ChannelData again = creator.takeToken(token);
        QVERIFY(again.isEmpty());
        QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")),
                 QStringList{line("unknown token ") + QString::number(token)});
        QCOMPARE(creator.outstandingChunks(), 0);
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
    }

    void bound()
    {
        QFETCH(int, maxOutstanding);
        QFETCH(int, chunks);
        QFETCH(QStringList, warnings);

        DravikChunkCreator_v2 creator(kChannel, maxOutstanding);
        LogCapture log;
        QList<int> tokens;
        for (int i = 0; i < chunks; ++i) {
            tokens.append(makeChunk(creator, quint64(i + 1), block(i)));
            QVERIFY(tokens.last() >= 0);
        }
        QCOMPARE(log.texts(QtWarningMsg, QStringLiteral("dravik")), warnings);

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

    void drawEndsWhenTheRangeIsFull()
    {
        const int range = DravikChunkCreator_v2::kTokenRange;
        QuietDebug quiet;
        DravikChunkCreator_v2 creator(kChannel, range);
        QSet<int> tokens;
        for (int i = 0; i < range; ++i) {
            const int token = makeChunk(creator, quint64(i + 1), QByteArray(1, 'x'));
            QVERIFY(token >= 0 && token < range);
            tokens.insert(token);
        }
        QCOMPARE(tokens.size(), range);

        LogCapture log;
        const int next = makeChunk(creator, quint64(range + 1), QByteArray("last"));
        QVERIFY(next >= 0 && next < range);
        QCOMPARE(creator.outstandingChunks(), range);
        QCOMPARE(*creator.takeToken(next).data, QByteArray("last"));
        QCOMPARE(log.texts(QtWarningMsg, QStringLiteral("dravik")).size(), 1);
    }

    void takeFromAnotherThread()
    {
        const int rounds = 3000;
        QuietDebug quiet;
        DravikChunkCreator_v2 creator(kChannel, rounds);
        QSemaphore available;
        QMutex tokenMutex;
        QList<QPair<int, int>> queued; // token, round
        QAtomicInt good;
        QAtomicInt bad;

        QScopedPointer<QThread> host(QThread::create([&] {
            for (int taken = 0; taken < rounds; ++taken) {
                available.acquire();
                QPair<int, int> next;
                {
                    QMutexLocker locker(&tokenMutex);
                    next = queued.takeFirst();
                }
                const ChannelData data = creator.takeToken(next.first);
                const QByteArray want = block(next.second) + block(next.second + 1);
                if (data.data && *data.data == want && creator.takeToken(next.first).isEmpty())
                    good.ref();
                else
                    bad.ref();
                creator.statusText();
            }
        }));
        host->start();

        for (int round = 0; round < rounds; ++round) {
            const quint64 stamp = quint64(round) * 2;
            creator.addSlice(stamp + 1, block(round + 1));
            creator.addSlice(stamp, block(round));
            creator.addSlice(stamp + 2 + 1000000, QByteArray("later"));
            const QList<int> tokens = creator.collectChunks(stamp, stamp + 1, false);
            QCOMPARE(tokens.size(), 1);
            {
                QMutexLocker locker(&tokenMutex);
                queued.append({tokens.first(), round});
            }
            available.release();
        }
        QVERIFY(host->wait(60000));
        QCOMPARE(bad.loadRelaxed(), 0);
        QCOMPARE(good.loadRelaxed(), rounds);
        QCOMPARE(creator.outstandingChunks(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ChunkCreator)
#include "tst_chunkcreator.moc"
