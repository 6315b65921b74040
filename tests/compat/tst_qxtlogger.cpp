#include "LogCapture.h"
#include "QxtLogger.h"

#include <QtTest>

class tst_QxtLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void itemsAreJoinedVerbatim()
    {
        QCOMPARE(QxtLogger::join("[DRAVIK.PH]:", QStringLiteral("parameter "), 1002, " not supported"),
                 QStringLiteral("[DRAVIK.PH]: parameter  1002  not supported"));
        QCOMPARE(QxtLogger::join("a", QByteArray("b c"), QVariant(3), 2.5, quint16(65535), -7),
                 QStringLiteral("a b c 3 2.5 65535 -7"));
        QCOMPARE(QxtLogger::join(QString()), QString());
        QCOMPARE(QxtLogger::join("x", QString(), "y"), QStringLiteral("x  y"));
    }

    void levelsAndCategories()
    {
        LogCapture log;
        QxtLogger *logger = QxtLogger::getInstance();
        logger->debug("[T]:", "debug line");
        logger->warning("[T]:", "warning line", 1);
        logger->error("[T]:", "error line");
        logger->trace("[T]:", "trace line"); // off unless enabled by logging rules

        const QList<LogCapture::Line> lines = log.lines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0).type, QtDebugMsg);
        QCOMPARE(lines.at(0).text, QStringLiteral("[T]: debug line"));
        QCOMPARE(lines.at(1).type, QtWarningMsg);
        QCOMPARE(lines.at(1).text, QStringLiteral("[T]: warning line 1"));
        QCOMPARE(lines.at(2).type, QtCriticalMsg);
        for (const LogCapture::Line &line : lines)
            QCOMPARE(line.category, QStringLiteral("dravik"));
        QVERIFY(log.unexpectedQtWarnings().isEmpty());
    }

    void traceCanBeSwitchedOn()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("dravik.trace.debug=true"));
        LogCapture log;
        QxtLogger::getInstance()->trace("[T]:", "trace line");
        QLoggingCategory::setFilterRules(QString());
        QCOMPARE(log.lines().size(), 1);
        QCOMPARE(log.lines().first().category, QStringLiteral("dravik.trace"));
    }
};

QTEST_GUILESS_MAIN(tst_QxtLogger)
#include "tst_qxtlogger.moc"
