#include "DravikExpertWidget_v2.h"
#include "LogCapture.h"
#include "WidgetTest.h"


// The expert widget on bare containers, for what the simulator never reports
// (values between or beyond the levels, short lists, stray bits) and for the
// timing combos' sorted series; the writes and read-backs run on the real
// device in tst_widgetsondevice.
class tst_ExpertWidget : public QObject, WidgetHarness<DravikExpertWidget_v2>
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<WidgetFixture>();
        // Expert mode unlocks the pages.
        m_fixture->confirmAll({{2010, true}, {1053, floats({20000, 500000})}});
        m_widget = std::make_unique<DravikExpertWidget_v2>(m_fixture->user, m_fixture->device);
        m_widget->onSetTriggerSources({{0, QStringLiteral("Off")}, {5, QStringLiteral("PD")}, {13, QStringLiteral("Charge")}});
    }
    void cleanup() { tearDown(); }

    // 1 ms to 5400 s in 1-2-5 steps; the combos show each.
    void periodSeries()
    {
        QCOMPARE(DravikExpertWidget_v2::series125(1000000, 2000000000).last(), quint64(2000000000));
        QCOMPARE(DravikExpertWidget_v2::series125(3, 40), (QList<quint64>{5, 10, 20}));
        auto *sample = child<ComboBox>("comboSamplePeriodMuxer");
        QCOMPARE(sample->count(), 21);
        QCOMPARE(sample->itemText(0), QStringLiteral("1 ms"));
        QCOMPARE(sample->itemText(20), QStringLiteral("5 ks"));
        QCOMPARE(child<ComboBox>("comboTimeoutCharge0")->itemText(12), QStringLiteral("10 s"));
        auto *pretrigger = child<ComboBox>("comboPretriggerTestVoltage");
        QCOMPARE(pretrigger->count(), 7);
        QCOMPARE(pretrigger->itemText(2), QStringLiteral("-500 µs"));
        QCOMPARE(pretrigger->itemData(0).toLongLong(), -2000000LL);
    }

    void timingValueInsertedInOrder()
    {
        auto *sample = child<ComboBox>("comboSamplePeriodCharge1");
        m_fixture->confirm(1032, qulonglong(3000000));
        QCOMPARE(sample->count(), 22);
        QCOMPARE(sample->currentIndex(), 2);
        QCOMPARE(sample->currentText(), QStringLiteral("3 ms"));
        QCOMPARE(sample->itemText(1), QStringLiteral("2 ms"));
        QCOMPARE(sample->itemText(3), QStringLiteral("5 ms"));
        // A known value adds nothing.
        m_fixture->confirm(1032, qulonglong(5000000));
        QCOMPARE(sample->count(), 22);
        QCOMPARE(sample->currentIndex(), 3);
        // Signed pre-trigger times sort below zero.
        auto *pretrigger = child<ComboBox>("comboPretriggerCharge1");
        m_fixture->confirm(1035, qlonglong(-1500000));
        QCOMPARE(pretrigger->currentIndex(), 1);
        QCOMPARE(pretrigger->currentData().toLongLong(), -1500000LL);

        LogCapture log;
        m_fixture->confirm(1032, QStringLiteral("soon"));
        QVERIFY(log.contains(QtDebugMsg, QStringLiteral("[DRAVIK.UI]: unable to set aquisition time")));
        QCOMPARE(sample->count(), 22);
    }

    void parameterToControl_data()
    {
        shownColumns();
        shownRow("high-pass lower", {{1067, floats({30000, 0})}}, "spinboxAdc2Highpass0Lower", "value", 30.0);
        shownRow("short filter list ignored", {{1053, floats({7000})}}, "spinboxAdc0Lowpass0Upper", "value", 500.0);
        shownRow("bandwidth out of range", {{1084, 2.0f}}, "radioLowBandwidth", "enabled", false);
        shownRow("user gating bandwidth", {{1096, 0.2f}}, "radioLowUserGatingBandwidth", "checked", true);
        shownRow("remote power", {{1087, 0.7f}}, "chkboxPowerExtGain", "checked", true);
        shownRow("gating only low byte", {{1098, 0x100}}, "groupGatingSystem", "checked", false);
        shownRow("muxer source unknown", {{1112, 99}}, "comboMuxerChannel1", "currentIndex", -1);
        shownRow("dual mode needs exactly 1", {{1113, 2}}, "chkboxMutexDualMode", "checked", false);
        shownRow("temperatures", {{1122, "T1 30; T2 31"}}, "textTemperatures", "plainText", "T1 30\nT2 31");
        shownRow("statistics", {{1188, 1.23456789}}, "lblStatisticsMean", "text", "1.23457");
        shownRow("unused channel", {{1029, 0}}, "comboFramePeriodCharge0", "enabled", false);
        shownRow("used channel", {{1029, 0}, {1029, 4}}, "comboTimeoutCharge0", "enabled", true);
    }
    void parameterToControl() { checkShown(*m_fixture, m_widget.get()); }

    void triggerSourcesKeepSelection()
    {
        m_fixture->confirm(1048, 5);
        m_widget->onSetTriggerSources({{13, QStringLiteral("Charge")}, {5, QStringLiteral("PD raw")}});
        auto *combo = child<ComboBox>("comboTrigger1Source");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), QStringLiteral("PD raw"));
    }
};

QTEST_MAIN(tst_ExpertWidget)
#include "tst_expertwidget.moc"
