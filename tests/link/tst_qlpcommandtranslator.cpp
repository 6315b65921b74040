#include "LogCapture.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "QlpCommandTranslator_v2.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {

QList<int> deviceParameterIds()
{
    ParameterHandler container(nullptr, QStringLiteral("[test]"));
    ParameterCatalogue::registerDeviceParameters([](const ParameterInfo &) { return true; }, &container);
    return container.ids();
}

} // namespace

class tst_QlpCommandTranslator : public QObject
{
    Q_OBJECT

private slots:
    void coversTheCatalogue()
    {
        QlpCommandTranslator_v2 translator;
        const QHash<int, QlpCommandTranslator_v2::Entry> table = translator.table();

        QList<int> catalogue = deviceParameterIds();
        QList<int> translated = table.keys();
        std::sort(catalogue.begin(), catalogue.end());
        std::sort(translated.begin(), translated.end());
        // Group headers and user parameters are not in the device catalogue
        // (tst_parametercatalogue), so they have no command either.
        QCOMPARE(translated, catalogue);

        QHash<QString, int> places;
        for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
            const QlpCommandTranslator_v2::Entry &e = it.value();
            QVERIFY2(e.setCommand != QlpCommandTranslator_v2::kNoCommand
                         || e.getCommand != QlpCommandTranslator_v2::kNoCommand,
                     qPrintable(ParameterCatalogue::logName(it.key())));
            for (quint16 command : {e.setCommand, e.getCommand}) {
                if (command == QlpCommandTranslator_v2::kNoCommand)
                    continue;
                const QString place = QStringLiteral("%1/%2/%3").arg(command, 0, 16).arg(e.firstIndex).arg(e.secondIndex);
                QVERIFY2(!places.contains(place), qPrintable(place + QLatin1Char(' ')
                                                             + ParameterCatalogue::logName(places.value(place))
                                                             + QLatin1Char(' ') + ParameterCatalogue::logName(it.key())));
                places.insert(place, it.key());
            }
            if (e.setCommand != QlpCommandTranslator_v2::kNoCommand)
                QCOMPARE(int(e.getCommand), e.setCommand + 0x20);
        }
        // The members of an instance are numbered from 0 without a gap: the
        // payload decoders take them by position.
        for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
            const quint16 command = it->getCommand != QlpCommandTranslator_v2::kNoCommand ? it->getCommand : it->setCommand;
            const QMap<int, int> members = translator.mapping(command, it->firstIndex);
            QVERIFY2(it->secondIndex < members.size() && members.value(it->secondIndex) == it.key(),
                     qPrintable(ParameterCatalogue::logName(it.key())));
        }
    }

    void lookups_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("set");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("firstIndex");
        QTest::addColumn<int>("secondIndex");

        QTest::newRow("pretrigger charge 0 set") << 1030 << true << true << 0x0F22 << 2 << 3;
        QTest::newRow("firmware version get") << 1008 << false << true << 0x0100 << 0 << 8;
        QTest::newRow("gain pd levels set") << 1080 << true << true << 0xFFFF << 3 << 0;
        QTest::newRow("gain pd levels get") << 1080 << false << true << 0x0F48 << 3 << 0;
        QTest::newRow("group header") << 1042 << true << false << 0xFFFF << 0 << 0;
        QTest::newRow("unknown") << 999 << true << false << 0xFFFF << 0 << 0;
    }

    void lookups()
    {
        QFETCH(int, id);
        QFETCH(bool, set);
        QFETCH(bool, ok);
        QFETCH(int, command);
        QFETCH(int, firstIndex);
        QFETCH(int, secondIndex);

        QlpCommandTranslator_v2 translator;
        LogCapture log;
        bool found = !ok;
        QCOMPARE(int(translator.command(id, set, &found)), command);
        QCOMPARE(found, ok);
        QCOMPARE(translator.contains(id), ok);
        if (ok) {
            QCOMPARE(int(translator.firstIndex(id, &found)), firstIndex);
            QVERIFY(found);
            QCOMPARE(int(translator.secondIndex(id, &found)), secondIndex);
            QVERIFY(found);
            QVERIFY(log.texts(QtDebugMsg).isEmpty());
        } else {
            const QStringList lines = log.texts(QtDebugMsg, QStringLiteral("dravik"));
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().startsWith(QLatin1String("[DRAVIK.CT] ")), qPrintable(lines.first()));
            const QString tail = QStringLiteral("const no command for parameter %1 setCommand %2")
                                     .arg(ParameterCatalogue::logName(id), set ? "true" : "false");
            QVERIFY2(lines.first().endsWith(tail), qPrintable(lines.first()));
            translator.firstIndex(id, &found);
            QVERIFY(!found);
        }
    }

    void lookupsWhileRebuilding()
    {
        QlpCommandTranslator_v2 translator;
        const QList<int> trigger1{1048, 1049, 1050, 1051};
        std::atomic<bool> stop{false};
        std::atomic<int> wrong{0};
        std::thread reader([&] {
            while (!stop.load()) {
                if (translator.parameters(0x0F44, 1) != trigger1 || !translator.commands().contains(0x0F84))
                    ++wrong;
            }
        });
        for (int i = 0; i < 2000; ++i)
            translator.applyProtocolVersionSpecifics(2);
        stop = true;
        reader.join();
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_QlpCommandTranslator)
#include "tst_qlpcommandtranslator.moc"
