#include "DravikControlWidget_v2.h"
#include "Label.h"
#include "LogCapture.h"
#include "WidgetTest.h"

#include <QProgressBar>


namespace {
enum Id { MeasurementState = 1010, UserCharge = 2000, TriggerLevelByCharge = 2007 };

const QHash<int, QString> kStateTexts = {{0, "Not ready"}, {1, "Ready"},      {2, "Starting"}, {3, "Running"},
                                         {4, "Stopping"},  {5, "Terminated"}, {6, "Timed out"}, {7, "Transfer"},
                                         {8, "Waiting"},   {9, "Error"}};
} // namespace

// What the control widget shows for values the simulator never reports (an
// out-of-range bandwidth, unknown states and charges) and its texts; the
// writes and read-backs run on the real device in tst_widgetsondevice.
class tst_ControlWidget : public QObject, WidgetHarness<DravikControlWidget_v2>
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void init()
    {
        m_fixture.reset(new WidgetFixture);
        m_widget.reset(new DravikControlWidget_v2(m_fixture->user, m_fixture->device));
        m_widget->onSetMeasurementStates(kStateTexts);
    }
    void cleanup() { tearDown(); }

    void parameterToControl_data()
    {
        shownColumns();
        shownRow("PD mode shows bandwidth", {{2002, 1}}, "widgetBandwidth", "hidden", false);
        shownRow("PD mode hides charge range", {{2002, 1}}, "widgetQRange", "hidden", true);
        shownRow("other mode hides bandwidth", {{2002, 1}, {2002, 3}}, "widgetBandwidth", "hidden", true);
        shownRow("mode 0 shows charge range", {{2002, 1}, {2002, 0}}, "widgetQRange", "hidden", false);
        shownRow("charge trigger shows level", {{1048, 13}}, "widgetTriggerLevel", "hidden", false);
        shownRow("external trigger hides level", {{1048, 13}, {1048, 12}}, "widgetTriggerLevel", "hidden", true);
        shownRow("expert mode locks parameters", {{2010, true}}, "widgetParameters", "enabled", false);
        shownRow("expert mode off", {{2010, true}, {2010, false}}, "widgetParameters", "enabled", true);
        shownRow("bandwidth 2 checks neither", {{1084, 1.0}, {1084, 2.0}}, "radioHighBandwidth", "checked", false);
        shownRow("bandwidth 2 disables low", {{1084, 2.0}}, "radioLowBandwidth", "enabled", false);
        shownRow("bandwidth 2 disables high", {{1084, 2.0}}, "radioHighBandwidth", "enabled", false);
        shownRow("bandwidth in range enables", {{1084, 2.0}, {1084, 0.0}}, "radioHighBandwidth", "enabled", true);
    }
    void parameterToControl() { checkShown(*m_fixture, m_widget.get()); }

    void unknownChargeIsAdded()
    {
        auto *combo = child<ComboBox>("comboQRange");
        m_fixture->confirm(UserCharge, 5e-10);
        QCOMPARE(combo->count(), 5);
        QCOMPARE(combo->currentIndex(), 4);
        QCOMPARE(combo->currentText(), QStringLiteral("500 pC"));
        // The same value again finds the added item.
        m_fixture->confirm(UserCharge, 1e-8);
        m_fixture->confirm(UserCharge, 5e-10 * (1 + 1e-14));
        QCOMPARE(combo->count(), 5);
        QCOMPARE(combo->currentIndex(), 4);

        LogCapture log;
        m_fixture->confirm(UserCharge, QStringLiteral("lots"));
        QCOMPARE(combo->count(), 5);
        QCOMPARE(log.texts(QtDebugMsg).filter(QStringLiteral("[DRAVIK.UI]: unable to set charge value")).size(), 1);
    }

    void chargeTriggerText_data()
    {
        QTest::addColumn<double>("charge");
        QTest::addColumn<double>("level");
        QTest::addColumn<QString>("expected");
        QTest::newRow("10 nC range") << 1e-8 << 2.5 << "Localisation level 2.5nC";
        QTest::newRow("1 nC range") << 1e-9 << 0.25 << "Localisation level 250pC";
        QTest::newRow("100 nC range") << 1e-7 << 12.4 << "Localisation level 12nC";
        QTest::newRow("100 pC range") << 1e-10 << 0.0456 << "Localisation level 46pC";
    }
    void chargeTriggerText()
    {
        QFETCH(double, charge);
        QFETCH(double, level);
        QFETCH(QString, expected);
        auto *label = child<Label>("lblChargeTriggerRelative");
        m_fixture->confirm(TriggerLevelByCharge, level);
        QCOMPARE(label->text(), QStringLiteral("Trigger")); // no charge range yet
        m_fixture->confirm(UserCharge, charge);
        m_fixture->confirm(TriggerLevelByCharge, level);
        QCOMPARE(label->text(), expected);
    }

    void stateBar_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("step");
        const int steps[] = {0, 0, 1, 2, 3, 5, 5, 4, 0, 0};
        for (int state = 0; state < 10; ++state)
            QTest::addRow("state %d", state) << state << kStateTexts.value(state) << steps[state];
        QTest::newRow("unknown state") << 12 << "undefined" << 0;
    }
    void stateBar()
    {
        QFETCH(int, state);
        QFETCH(QString, text);
        QFETCH(int, step);
        auto *bar = child<QProgressBar>("progressState");
        m_fixture->confirm(MeasurementState, state);
        QCOMPARE(bar->format(), text);
        QCOMPARE(bar->value(), step);
    }

};

QTEST_MAIN(tst_ControlWidget)
#include "tst_controlwidget.moc"
