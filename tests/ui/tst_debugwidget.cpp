#include "DravikDebugWidget_v2.h"
#include "Dravik_v2.h"
#include "LogCapture.h"
#include "PdQlp_v2.h"
#include "PushButton.h"
#include "WidgetTest.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>


namespace {
enum Id { Trigger0Level = 1044, GainTestVoltageLevels = 1077, SettingsAliveTimeout = 1172 };
const QString kTag = QStringLiteral("[DRAVIK.DebugDialog]: ");

// A value typed into the tree over the current one: what is requested
// (invalid: nothing) and what is logged besides the change.
struct Edit
{
    int id;
    QVariant current;
    QString typed;
    QVariant written;
    QString logged;
};
} // namespace

Q_DECLARE_METATYPE(Edit)

class tst_DebugWidget : public QObject, WidgetHarness<DravikDebugWidget_v2>
{
    Q_OBJECT

private:
    // Never opened: it only describes the parameters.
    Dravik_v2 m_descriptions;

    QTreeWidget *tree() const { return child<QTreeWidget>("treeParameters"); }
    QTreeWidgetItem *itemOf(int id) const { return treeItem(m_widget.get(), id); }
    QString valueShown(int id) const { return itemOf(id)->text(2); }
    QColor colourShown(int id) const { return itemOf(id)->background(2).color(); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_descriptions.initialize()); }
    void init()
    {
        m_widget.reset();
        m_fixture.reset(new WidgetFixture);
        m_widget.reset(new DravikDebugWidget_v2(&m_descriptions, m_fixture->user, m_fixture->device));
    }

    void treeFollowsTheDescriptions()
    {
        QCOMPARE(tree()->topLevelItem(0)->text(1), QStringLiteral("General"));
        QList<int> ids;
        ParameterInfo info;
        for (int i = 1; i < tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem *group = tree()->topLevelItem(i);
            QVERIFY(m_descriptions.parameterInfo(group->text(0).toInt(), info));
            QCOMPARE(info.kind, 1001);
            QCOMPARE(group->text(1), info.name);
            ids << info.id;
            for (int c = 0; c < group->childCount(); ++c) {
                QVERIFY(m_descriptions.parameterInfo(group->child(c)->text(0).toInt(), info));
                QVERIFY(info.kind != 1001);
                ids << info.id;
            }
        }
        QVERIFY(std::is_sorted(ids.begin(), ids.end(), std::less_equal<int>()));
        // Every parameter of either container has its row, besides the group headers.
        const int groups = tree()->topLevelItemCount() - 1;
        QVERIFY(groups > 20);
        QCOMPARE(ids.size() - groups, m_fixture->user->ids().size() + m_fixture->device->ids().size());
        QCOMPARE(itemOf(Trigger0Level)->parent()->text(1), QStringLiteral("Trigger 0"));

        m_fixture->confirm(GainTestVoltageLevels, QVariantList{-30.0f, 1.5f});
        QCOMPARE(valueShown(GainTestVoltageLevels), QStringLiteral("-30, 1.5"));
        QCOMPARE(colourShown(GainTestVoltageLevels), QColor(Qt::white));
    }

    void editing_data()
    {
        QTest::addColumn<Edit>("c");
        const QVariant twoFloats = QVariantList{-30.0f, -20.0f};
        QTest::newRow("list") << Edit{GainTestVoltageLevels, twoFloats, "1.5,2", QVariantList{1.5f, 2.0f}, ""};
        QTest::newRow("list too short")
            << Edit{GainTestVoltageLevels, twoFloats, "1.5", QVariant(), "invalid list length (old 2 new 1 )"};
        QTest::newRow("list with a word")
            << Edit{GainTestVoltageLevels, twoFloats, "1.5,x", QVariant(), "unable to convert datatype"};
        QTest::newRow("empty list")
            << Edit{GainTestVoltageLevels, QVariantList{}, "1", QVariant(), "invalid list length 0"};
        QTest::newRow("integer") << Edit{SettingsAliveTimeout, 5000, "3000", 3000, ""};
        QTest::newRow("integer to word") << Edit{SettingsAliveTimeout, 5000, "abc", QVariant(), "unable to convert datatype"};
        QTest::newRow("address") << Edit{1118, QByteArray::fromHex("7f000001"), "10.0.0.300", QVariant(),
                                         "unable to convert datatype"};
    }
    void editing()
    {
        QFETCH(Edit, c);
        const auto &[id, current, typed, written, logged] = c;
        m_fixture->confirm(id, current);
        const QString shownBefore = valueShown(id);
        QSignalSpy requests(m_fixture->containerOf(id), qOverload<int, int>(&ParameterHandler::parameterStatusChanged));
        LogCapture log;
        itemOf(id)->setText(2, typed); // what the editor commits

        // Qt's debug stream quotes the texts.
        const QString changed = QStringLiteral("changed item 2 \"%1\" \"%2\" \"%3\"")
                                    .arg(id)
                                    .arg(itemOf(id)->text(1), typed);
        QVERIFY2(log.contains(QtDebugMsg, kTag + changed), qPrintable(log.texts(QtDebugMsg).join('\n')));
        const QtMsgType type = logged.startsWith("unable") ? QtWarningMsg : QtDebugMsg;
        QVERIFY2(logged.isEmpty() || log.contains(type, kTag + logged), qPrintable(log.texts(type).join('\n')));
        if (!written.isValid()) {
            QCOMPARE(requests.count(), 0);
            QCOMPARE(valueShown(id), shownBefore); // the row shows what the container holds again
            return;
        }
        // QVariant's == converts: compare the types (of a list's elements) too.
        const auto typeOf = [](const QVariant &v) { return v.toList().value(0, v).userType(); };
        QCOMPARE(requests.count(), 1);
        QCOMPARE(m_fixture->requested(id), written);
        QCOMPARE(typeOf(m_fixture->requested(id)), typeOf(written));
    }

    void inspectEvents_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<QVariantHash>("data");
        QTest::addColumn<QString>("line"); // empty: nothing is logged
        QTest::addColumn<QString>("socketState");
        const QVariantHash text{{"text", "signal opened"}};
        QTest::newRow("debug") << 0 << text << "signal opened" << "undefined";
        QTest::newRow("warning") << 1 << text << "Warning: signal opened" << "undefined";
        QTest::newRow("open state") << 2 << QVariantHash{{"text", "connecting"}} << "connection state (connecting)"
                                    << "undefined";
        QTest::newRow("socket state") << 3 << QVariantHash{{"int", 3}} << "socket state (ConnectedState)"
                                      << "ConnectedState";
        QTest::newRow("unknown") << 4 << text << "" << "undefined";
    }
    void inspectEvents()
    {
        QFETCH(int, event);
        QFETCH(QVariantHash, data);
        QFETCH(QString, line);
        QFETCH(QString, socketState);
        m_widget->onInspectEvent(event, data);
        const QString log = child<QPlainTextEdit>("textLog")->toPlainText();
        if (line.isEmpty()) {
            QCOMPARE(log, QString());
        } else {
            const QRegularExpression stamped("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]: "
                                             + QRegularExpression::escape(line) + '$');
            QVERIFY2(stamped.match(log).hasMatch(), qPrintable(log));
        }
        QCOMPARE(child<QLabel>("lblSocketState")->text(), socketState);
    }

    void connectButtonFollowsTheConnection()
    {
        auto *open = child<PushButton>("btnOpen");
        auto *actions = child("widgetConnectedActions");
        QSignalSpy connecting(m_widget.get(), &DravikBaseWidget_v2::connectDevice);
        QSignalSpy disconnecting(m_widget.get(), &DravikBaseWidget_v2::disconnectDevice);
        QVERIFY(!actions->isEnabled());
        open->setShortcut(QKeySequence(QStringLiteral("Ctrl+K")));

        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(connecting.count(), 1);
        QVERIFY(!open->isEnabled());
        m_widget->onDeviceConnected();
        QCOMPARE(open->text(), QStringLiteral("Disconnect"));
        QCOMPARE(open->shortcut(), QKeySequence(QStringLiteral("Ctrl+K")));
        QVERIFY(open->toolTip().contains(QStringLiteral("Disconnect")));
        QVERIFY(open->isEnabled() && actions->isEnabled() && child("btnRefreshParameters")->isEnabled());
        QCOMPARE(child<QLabel>("lblConnectionState")->text(), QStringLiteral("Connected"));

        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(disconnecting.count(), 1);
        m_widget->onDeviceDisconnected(-1003);
        QCOMPARE(open->text(), QStringLiteral("Connect"));
        QVERIFY(open->isEnabled() && !actions->isEnabled() && !child("btnRefreshParameters")->isEnabled());
        QCOMPARE(child<QLabel>("lblConnectionState")->text(), QStringLiteral("Not connected"));
    }

    void actionAndLogButtons()
    {
        m_widget->onDeviceConnected();
        QSignalSpy requests(&m_descriptions, &Dravik_v2::requestParameter);
        QTest::mouseClick(child<PushButton>("btnRefreshParameters"), Qt::LeftButton);
        QCOMPARE(requests.count(), 1);
        const auto ids = requests.first().first().value<QList<int>>();
        QVERIFY(ids.contains(1010) && !ids.contains(1002)); // identification left out

        QSignalSpy readLog(m_widget.get(), &DravikDebugWidget_v2::readLogFile);
        QTest::mouseClick(child<PushButton>("btnReadLog"), Qt::LeftButton);
        QCOMPARE(readLog.count(), 1);

        m_widget->onInspectEvent(0, {{"text", "one"}});
        m_widget->onInspectEvent(1, {{"text", "two"}});
        auto *log = child<QPlainTextEdit>("textLog");
        QCOMPARE(log->document()->lineCount(), 2);
        QTest::mouseClick(child<PushButton>("btnCopyLog"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), log->toPlainText());
        QTest::mouseClick(child<PushButton>("btnClearLog"), Qt::LeftButton);
        QCOMPARE(log->toPlainText(), QString());
    }

    // A double click anywhere on a parameter row edits its value.
    void doubleClickEditsTheValue()
    {
        m_fixture->confirm(Trigger0Level, 0.1f);
        QTreeWidget *tree = this->tree();
        m_widget->resize(720, 640);
        m_widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_widget.get()));
        QTreeWidgetItem *level = itemOf(Trigger0Level);
        tree->scrollToItem(level);
        const QPoint onName(tree->header()->sectionViewportPosition(1) + 4, tree->visualItemRect(level).center().y());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, onName); // Qt's double click comes without a press
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, onName);
        auto *editor = tree->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("0.375"));
        QTest::keyClick(editor, Qt::Key_Return); // commits queued
        QTRY_COMPARE(m_fixture->requested(Trigger0Level), QVariant(0.375f));
    }

    // Values the detector keeps as bytes or as its own state type, shown as
    // the configuration view shows them (its serial and port: tst_configurationwidget).
    void readableBytes_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("MAC") << 1117 << QVariant(QByteArray::fromHex("001a2b3c4d5e")) << "00:1A:2B:3C:4D:5E";
        QTest::newRow("address") << 1118 << QVariant(QByteArray::fromHex("c0a8dc64")) << "192.168.220.100";
        QTest::newRow("calibration") << 1123 << QVariant(le(2640.5)) << "2640.5";
        QTest::newRow("address, wrong size") << 1120 << QVariant(QByteArray("\x01", 1)) << "\x01";
        QTest::newRow("channel state") << 1014 << QVariant::fromValue(st_ChannelMeasState{0x33}) << "0x33";
    }
    void readableBytes()
    {
        QFETCH(int, id);
        QFETCH(QVariant, value);
        QFETCH(QString, shown);
        m_fixture->confirm(id, value);
        QCOMPARE(valueShown(id), shown);
    }
};

QTEST_MAIN(tst_DebugWidget)
#include "tst_debugwidget.moc"
