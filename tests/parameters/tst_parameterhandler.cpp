#include "ParameterHandler.h"
#include "SdkMetaTypes.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>

using StatusHash = QHash<int, int>;
Q_DECLARE_METATYPE(StatusHash)

class tst_ParameterHandler : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        ParameterHandler handler{nullptr, QStringLiteral("[DRAVIK.devdata]:")};
        QSignalSpy updated{&handler, &AbstractParameterContainer::parameterUpdated};
        QSignalSpy status{&handler, qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged)};
        QSignalSpy states{&handler, qOverload<QHash<int, int>>(&AbstractParameterContainer::parameterStatusChanged)};

        Fixture()
        {
            handler.add(1, 10);
            handler.add(2, 20);
        }
        void clearSpies()
        {
            updated.clear();
            status.clear();
            states.clear();
        }
        QList<QPair<int, int>> statusPairs() const
        {
            QList<QPair<int, int>> pairs;
            for (const QList<QVariant> &args : status)
                pairs.append({args.at(0).toInt(), args.at(1).toInt()});
            return pairs;
        }
    };

private Q_SLOTS:
    void initTestCase() { registerSdkMetaTypes(); }

    void setValueStates_data()
    {
        QTest::addColumn<bool>("pendingFirst");
        QTest::addColumn<QVariant>("request");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("pendingCount");
        QTest::addColumn<QVariant>("newValue");

        QTest::newRow("differs: pending") << false << QVariant(11) << 1 << 1 << QVariant(11);
        QTest::newRow("same as confirmed: no change") << false << QVariant(10) << -1 << 0 << QVariant(10);
        QTest::newRow("same after numeric conversion") << false << QVariant(10.0) << -1 << 0 << QVariant(10);
        QTest::newRow("pending, back to confirmed value") << true << QVariant(10) << 1 << 1 << QVariant(10);
        QTest::newRow("invalid request") << false << QVariant() << 1 << 1 << QVariant();
    }
    void setValueStates()
    {
        QFETCH(bool, pendingFirst);
        QFETCH(QVariant, request);
        QFETCH(int, reported);
        QFETCH(int, pendingCount);
        QFETCH(QVariant, newValue);

        Fixture f;
        if (pendingFirst)
            f.handler.setValue(1, 15);
        f.clearSpies();

        QCOMPARE(f.handler.setValue(1, request), 0);
        QCOMPARE(f.states.count(), 1);
        QCOMPARE(f.states.first().first().value<StatusHash>(), (StatusHash{{1, reported}}));
        QCOMPARE(f.statusPairs(), (QList<QPair<int, int>>{{1, reported}}));
        QCOMPARE(f.updated.count(), 0);
        QCOMPARE(f.handler.pendingIds().size(), pendingCount);
        QCOMPARE(f.handler.value(1), QVariant(10));
        QCOMPARE(f.handler.newValue(1), newValue);
        QCOMPARE(f.handler.isValid(1), pendingCount == 0);
    }

    void setValueSkipsUnknownIds()
    {
        Fixture f;
        f.handler.setValue(QHash<int, QVariant>{{1, 11}, {77, 5}, {2, 20}});
        QCOMPARE(f.states.count(), 1);
        QCOMPARE(f.states.first().first().value<StatusHash>(), (StatusHash{{1, 1}, {2, -1}}));
        QCOMPARE(f.status.count(), 2);
        QVERIFY(!f.statusPairs().contains({77, 1}));
        QVERIFY(!f.handler.contains(77));
        QCOMPARE(f.handler.pendingIds(), QList<int>{1});
    }

    void updateConfirmsOrFails_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("entryStatus");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("announced");

        QTest::newRow("confirmed with new value") << QVariant(11) << 0 << 0 << QVariant(11) << true;
        QTest::newRow("confirmed unchanged") << QVariant(10) << 0 << 0 << QVariant(10) << false;
        QTest::newRow("detector reports error") << QVariant(11) << 5 << -1 << QVariant(10) << false;
        QTest::newRow("negative status") << QVariant(11) << -1 << -1 << QVariant(10) << false;
    }
    void updateConfirmsOrFails()
    {
        QFETCH(QVariant, value);
        QFETCH(int, status);
        QFETCH(int, entryStatus);
        QFETCH(QVariant, stored);
        QFETCH(bool, announced);

        Fixture f;
        f.handler.setValue(1, 11);
        f.clearSpies();
        f.handler.update(1, value, status);

        QCOMPARE(f.handler.value(1), stored);
        QCOMPARE(f.handler.newValue(1), stored);
        QVERIFY(f.handler.pendingIds().isEmpty());
        QCOMPARE(f.handler.isValid(1), entryStatus == 0);
        QCOMPARE(f.updated.count(), announced ? 1 : 0);
        if (announced)
            QCOMPARE(f.updated.first().first().value<QList<int>>(), QList<int>{1});
        QCOMPARE(f.statusPairs(), (QList<QPair<int, int>>{{1, entryStatus}}));
        QCOMPARE(f.states.count(), 0);
    }

    void failedEntryRecoversOnNextConfirmation()
    {
        Fixture f;
        f.handler.update(1, 11, 3);
        QVERIFY(!f.handler.isValid(1));
        f.clearSpies();
        f.handler.setValue(1, 10);
        QCOMPARE(f.statusPairs(), (QList<QPair<int, int>>{{1, -1}}));
        f.handler.update(1, 12, 0);
        QVERIFY(f.handler.isValid(1));
        QCOMPARE(f.handler.value(1), QVariant(12));
    }

    void discardPendingRestoresValues()
    {
        Fixture f;
        f.handler.add(3, QVariant());
        f.handler.setValue(QHash<int, QVariant>{{1, 11}, {3, 7}});
        f.clearSpies();
        QCOMPARE(f.handler.discardPending(), 0);
        QVERIFY(f.handler.pendingIds().isEmpty());
        for (int id : f.handler.ids())
            QCOMPARE(f.handler.newValue(id), f.handler.value(id));
        QCOMPARE(f.status.count(), 2);
        for (const auto &pair : f.statusPairs())
            QCOMPARE(pair.second, 0);
        QCOMPARE(f.updated.count(), 0);
    }

    void resetForgetsValue()
    {
        Fixture f;
        f.handler.setValue(1, 11);
        f.clearSpies();
        f.handler.reset(1);
        f.handler.reset(9); // absent ids are inserted
        QVERIFY(!f.handler.value(1).isValid());
        QVERIFY(f.handler.isValid(1));
        QVERIFY(f.handler.pendingIds().isEmpty());
        QVERIFY(f.handler.contains(9));
        QCOMPARE(f.statusPairs(), (QList<QPair<int, int>>{{1, 0}, {9, 0}}));
        QVERIFY(!f.handler.newValue(1).isValid());
    }

    void signalsLeaveTheLockFree()
    {
        Fixture f;
        QVariant seen;
        connect(&f.handler, qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged), this,
                [&](int id, int) {
                    seen = f.handler.newValue(id);
                    f.handler.add(100 + id, 0);
                },
                Qt::DirectConnection);
        f.handler.setValue(1, 11);
        f.handler.update(1, 11, 0);
        QCOMPARE(seen, QVariant(11));
        QVERIFY(f.handler.contains(101));
    }

    void concurrentRequestsAndConfirmations()
    {
        ParameterHandler handler(nullptr, QStringLiteral("[DRAVIK.data]:"));
        const int ids = 50;
        for (int id = 0; id < ids; ++id)
            handler.add(id, 0);

        QThread worker;
        QObject confirmer;
        confirmer.moveToThread(&worker);
        std::atomic<int> confirmations{0};
        connect(&handler, qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged), &confirmer,
                [&](int id, int status) {
                    if (status != 1)
                        return;
                    handler.update(id, handler.newValue(id), 0);
                    ++confirmations;
                },
                Qt::QueuedConnection);
        worker.start();

        const int rounds = 200;
        for (int round = 1; round <= rounds; ++round) {
            const int id = round % ids;
            handler.setValue(id, round);
            for (int other = 0; other < ids; ++other) {
                const QVariant v = handler.value(other);
                QVERIFY(v.isValid());
                QVERIFY(v.toInt() >= 0 && v.toInt() <= rounds);
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(handler.pendingIds().isEmpty(), 10000);
        worker.quit();
        QVERIFY(worker.wait(10000));
        // Every entry was asked for and confirmed on the other thread.
        QVERIFY2(confirmations.load() >= ids, qPrintable(QString::number(confirmations.load())));
        for (int id = 0; id < ids; ++id) {
            const int v = handler.value(id).toInt();
            QVERIFY2(v == 0 || v % ids == id, qPrintable(QStringLiteral("id %1 holds %2").arg(id).arg(v)));
            QCOMPARE(handler.newValue(id), handler.value(id));
        }
    }
};

QTEST_GUILESS_MAIN(tst_ParameterHandler)
#include "tst_parameterhandler.moc"
