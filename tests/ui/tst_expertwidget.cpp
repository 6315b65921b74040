#include "Dravik_v2.h"
#include "DravikExpertWidget_v2.h"
#include "DravikWidgetFactory_v2.h"
#include "LogCapture.h"
#include "StateLedWidget_v2.h"
#include "StateLed_v2.h"
#include "WidgetTest.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>

#include <memory>

// The expert widget on the device's real parameter containers: every control
// writes its parameter in the right type, every confirmed parameter shows in
// its control, and the timing combos keep their sorted series.
class tst_ExpertWidget : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WidgetFixture> m_fixture;
    std::unique_ptr<DravikExpertWidget_v2> m_widget;

    template<typename T = QWidget>
    T *child(const char *name) const { return childOf<T>(m_widget.get(), QLatin1String(name)); }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<WidgetFixture>();
        // Expert mode unlocks the pages.
        m_fixture->confirmAll({{2010, true}, {1077, floats({0, 20})}, {1074, floats({0, 6, 12, 20})},
                               {1053, floats({20000, 500000})}});
        m_widget = std::make_unique<DravikExpertWidget_v2>(m_fixture->user, m_fixture->device);
        m_widget->onSetTriggerSources({{0, QStringLiteral("Off")}, {5, QStringLiteral("PD")}, {13, QStringLiteral("Charge")}});
    }
    void cleanup()
    {
        m_widget.reset();
        m_fixture.reset();
    }

    void pageList()
    {
        child<QListWidget>("listWidget")->setCurrentRow(8);
        QCOMPARE(child<QStackedWidget>("stackedParameters")->currentWidget()->objectName(), QStringLiteral("pageFilter"));
    }

    void periodSeries()
    {
        const QList<quint64> samples = DravikExpertWidget_v2::series125(1000000, 5400000000000ULL);
        QCOMPARE(samples.first(), quint64(1000000));
        QCOMPARE(samples.last(), quint64(5000000000000ULL));
        QCOMPARE(samples.size(), 21);
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

    void channelStates()
    {
        m_fixture->confirm(1014, 0x33);
        QCOMPARE(m_widget->channelStateLeds(3)->state(), 3u);
        QList<bool> on;
        for (StateLed_v2 *led : m_widget->channelStateLeds(3)->leds().mid(0, 3))
            on << led->isOn();
        QCOMPARE(on, QList<bool>({true, true, false}));
        // The byte names its channel, whichever parameter carries it.
        m_fixture->confirm(1011, 0xF0);
        QCOMPARE(m_widget->channelStateLeds(0)->state(), 15u);
        QCOMPARE(m_widget->channelStateLeds(3)->state(), 3u);
    }

    void parameterToControl_data()
    {
        shownColumns();
        shownRow("expert mode on", {{2010, true}}, "stackedParameters", "enabled", true);
        shownRow("expert mode off", {{2010, false}}, "stackedParameters", "enabled", false);
        shownRow("gain compensation", {{2004, true}}, "chkboxGainCompensation", "checked", true);
        shownRow("device info", {{1006, 3}, {1007, 2}, {1008, 23}}, "textDeviceInfo", "plainText", "hw 2; fw 23; sw 3");
        shownRow("trigger source", {{1043, 13}}, "comboTrigger0Source", "currentText", "Charge");
        shownRow("low-pass upper in kHz", {}, "spinboxAdc0Lowpass0Upper", "value", 500.0);
        shownRow("band-pass lower", {{1063, floats({100000, 400000})}}, "spinboxAdc1BandpassLower", "value", 100.0);
        shownRow("band-pass upper", {{1063, floats({100000, 400000})}}, "spinboxAdc1BandpassUpper", "value", 400.0);
        shownRow("high-pass lower", {{1067, floats({30000, 0})}}, "spinboxAdc2Highpass0Lower", "value", 30.0);
        shownRow("short filter list ignored", {{1053, floats({7000})}}, "spinboxAdc0Lowpass0Upper", "value", 500.0);
        shownRow("gain slider position", {{1075, 12.0f}}, "sliderUserGatingGain", "value", 2);
        shownRow("gain slider range", {}, "sliderUserGatingGain", "maximum", 3);
        shownRow("gain label", {{1075, 12.0f}}, "lblUserGatingGain", "text", "12dB");
        shownRow("test voltage high", {{1078, 20.0f}}, "radioHighVoltageGain", "checked", true);
        shownRow("test voltage low", {{1078, 0.0f}}, "radioLowVoltageGain", "checked", true);
        shownRow("bandwidth out of range", {{1084, 2.0f}}, "radioLowBandwidth", "enabled", false);
        shownRow("system gating bandwidth", {{1093, 1.0f}}, "radioHighSystemGatingBandwidth", "checked", true);
        shownRow("user gating bandwidth", {{1096, 0.2f}}, "radioLowUserGatingBandwidth", "checked", true);
        shownRow("remote power", {{1087, 0.7f}}, "chkboxPowerExtGain", "checked", true);
        shownRow("clock source", {{1090, 1.0f}}, "chkboxClockSource", "checked", true);
        shownRow("gating only low byte", {{1098, 0x100}}, "groupGatingSystem", "checked", false);
        shownRow("user gating on", {{1101, true}}, "groupGatingUser", "checked", true);
        shownRow("digital gating", {{1105, 1}}, "checkDigitalGating1", "checked", true);
        shownRow("muxer source", {{1111, 7}}, "comboMuxerChannel0", "currentText", "Charge 0 filtered");
        shownRow("muxer source unknown", {{1112, 99}}, "comboMuxerChannel1", "currentIndex", -1);
        shownRow("dual mode needs exactly 1", {{1113, 2}}, "chkboxMutexDualMode", "checked", false);
        shownRow("muxer gating", {{1114, 1}}, "chkboxMutexGating", "checked", true);
        shownRow("temperatures", {{1122, "T1 30; T2 31"}}, "textTemperatures", "plainText", "T1 30\nT2 31");
        shownRow("inversion", {{1127, true}}, "chkboxAdc1Invert", "checked", true);
        shownRow("statistics", {{1188, 1.23456789}}, "lblStatisticsMean", "text", "1.23457");
        shownRow("whole number", {{1045, 1234}}, "spinTrigger0Holdtime", "value", 1234.0);
        shownRow("unused channel", {{1029, 0}}, "comboFramePeriodCharge0", "enabled", false);
        shownRow("used channel", {{1029, 0}, {1029, 4}}, "comboTimeoutCharge0", "enabled", true);
        shownRow("level", {{1044, 0.25f}}, "spinboxTrigger0Level", "value", 0.25);
        shownRow("fan omega", {{1184, 0.35f}}, "spinboxFcOmega", "value", 0.35);
    }
    void parameterToControl() { checkShown(*m_fixture, m_widget.get()); }

    void controlToParameter_data()
    {
        writtenColumns();
        writtenRow("muxer combo", activate("comboMuxerChannel0", 4), 1111, 4);
        writtenRow("trigger source combo", activate("comboTrigger1Source", 2), 1048, 13);
        writtenRow("frame period combo", activate("comboFramePeriodCharge1", 2), 1033, qulonglong(5000000));
        writtenRow("pre-trigger combo", activate("comboPretriggerMuxer", 0), 1020, qlonglong(-2000000));
        writtenRow("holdtime", edit("spinGatingUserHoldtime", 4096), 1103, 4096.0);
        writtenRow("periods", edit("spinPeriodsTestVoltage", 5), 1024, 5.0);
        writtenRow("level", edit("doubleSpinboxGatingSystemLevel", -0.5), 1099, -0.5);
        writtenRow("fan temperature", edit("spinboxFcMaxTemperature", 80), 1181, 80.0);
        writtenRow("localisation level", edit("spinboxTriggerCharge", 12.5), 2007, 12.5);
        writtenRow("filter edit in kHz", edit("spinboxAdc0Lowpass0Upper", 400), 1053, floats({20000, 400000}));
        writtenRow("bandwidth high", clickOn("radioHighBandwidth"), 1084, 1.0);
        writtenRow("system gating bandwidth", clickOn("radioHighSystemGatingBandwidth"), 1093, 1.0);
        writtenRow("user gating bandwidth", clickOn("radioHighUserGatingBandwidth"), 1096, 1.0);
        writtenRow("test voltage high", clickOn("radioHighVoltageGain"), 1078, 20.0f);
        writtenRow("gain slider", [](QWidget *w) { childOf<QSlider>(w, "sliderUserGatingGain")->setValue(3); }, 1075,
                   20.0f);
        writtenRow("remote power", clickOn("chkboxPowerExtGain"), 1087, 1.0f);
        writtenRow("clock source", clickOn("chkboxClockSource"), 1090, 1.0f);
        writtenRow("gain compensation", clickOn("chkboxGainCompensation"), 2004, true);
        writtenRow("inversion", clickOn("chkboxAdc2Invert"), 1128, true);
        writtenRow("dual mode", clickOn("chkboxMutexDualMode"), 1113, 1);
        writtenRow("muxer gating", clickOn("chkboxMutexGating"), 1114, 1);
        writtenRow("digital gating", clickOn("checkDigitalGating1"), 1105, QVariant::fromValue<quint8>(1));
        writtenRow("system gating", [](QWidget *w) {
            auto *group = childOf<QGroupBox>(w, "groupGatingSystem");
            group->setChecked(true);
            Q_EMIT group->clicked(true);
        }, 1098, true);
        writtenRow("expert mode", clickOn("checkBoxExpertMode"), 2010, false);
    }
    void controlToParameter() { checkWritten(*m_fixture, m_widget.get()); }

    void testVoltageNeedsTwoLevels()
    {
        for (const QVariantList &levels : {floats({0, 10, 20}), floats({0})}) {
            m_fixture->confirm(1077, levels);
            child<QAbstractButton>("radioHighVoltageGain")->click();
            QVERIFY(m_fixture->allPending().isEmpty());
        }
    }

    void pendingMarksTabledControls()
    {
        edit("spinTrigger1Holdtime", 77)(m_widget.get());
        auto *spinBox = child("spinTrigger1Holdtime");
        QVERIFY(spinBox->property("changingParam").toBool());
        m_fixture->confirmPending(1050);
        QVERIFY(!spinBox->property("changingParam").toBool());
        QCOMPARE(spinBox->property("value").toDouble(), 77.0);
    }

    void triggerSourcesKeepSelection()
    {
        m_fixture->confirm(1048, 5);
        m_widget->onSetTriggerSources({{13, QStringLiteral("Charge")}, {5, QStringLiteral("PD raw")}});
        auto *combo = child<ComboBox>("comboTrigger1Source");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), QStringLiteral("PD raw"));
    }

    void createdByDevice()
    {
        Dravik_v2 device;
        QVERIFY(device.initialize());
        std::unique_ptr<QWidget> created(DravikWidgetFactory_v2::create(8, &device));
        auto *widget = qobject_cast<DravikExpertWidget_v2 *>(created.get());
        QVERIFY(widget);
        QSignalSpy reset(widget, &DravikExpertWidget_v2::resetToDefault);
        childOf<QPushButton>(widget, "btnResetToDefaultTimings")->click();
        QCOMPARE(reset.count(), 1);
        Q_EMIT device.setTriggerSources({{13, QStringLiteral("Charge")}});
        QCOMPARE(childOf<ComboBox>(widget, "comboTrigger0Source")->count(), 1);
    }
};

QTEST_MAIN(tst_ExpertWidget)
#include "tst_expertwidget.moc"
