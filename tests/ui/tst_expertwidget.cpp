#include "CheckBox.h"
#include "ComboBox.h"
#include "DoubleSpinBox.h"
#include "Dravik_v2.h"
#include "DravikExpertWidget_v2.h"
#include "DravikWidgetFactory_v2.h"
#include "LogCapture.h"
#include "StateLedWidget_v2.h"
#include "StateLed_v2.h"
#include "WidgetFixture.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QtTest>

#include <functional>
#include <memory>

class tst_ExpertWidget;
using Action = std::function<void(tst_ExpertWidget *)>;
Q_DECLARE_METATYPE(Action)

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
    T *child(const QString &name) const
    {
        T *found = m_widget->findChild<T *>(name);
        if (!found)
            qFatal("no child %s", qPrintable(name));
        return found;
    }
    void click(const QString &name) { child<QAbstractButton>(name)->click(); }
    void activate(const QString &name, int index)
    {
        auto *combo = child<ComboBox>(name);
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }
    void edit(const QString &name, double value)
    {
        auto *spinBox = child<DoubleSpinBox>(name);
        spinBox->setValue(value);
        Q_EMIT static_cast<QAbstractSpinBox *>(spinBox)->editingFinished();
    }
    void confirmAll(const QVariantList &confirms) const
    {
        for (const QVariant &pair : confirms)
            m_fixture->confirm(pair.toList().at(0).toInt(), pair.toList().at(1));
    }
    static QVariantList floats(std::initializer_list<float> values)
    {
        QVariantList list;
        for (float value : values)
            list << value;
        return list;
    }
    static QVariant set(int id, const QVariant &value) { return QVariantList{id, value}; }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<WidgetFixture>();
        m_fixture->confirm(2010, true); // the pages are locked otherwise
        m_fixture->confirm(1077, floats({0, 20}));
        m_fixture->confirm(1074, floats({0, 6, 12, 20}));
        m_fixture->confirm(1053, floats({20000, 500000}));
        m_widget = std::make_unique<DravikExpertWidget_v2>(m_fixture->user, m_fixture->device);
        m_widget->onSetTriggerSources({{0, QStringLiteral("Off")}, {5, QStringLiteral("PD")}, {13, QStringLiteral("Charge")}});
    }

    void cleanup()
    {
        m_widget.reset();
        m_fixture.reset();
    }

    void form()
    {
        auto *pages = child<QListWidget>(QStringLiteral("listWidget"));
        QCOMPARE(pages->count(), 13);
        QCOMPARE(pages->currentRow(), 0);
        QCOMPARE(pages->item(12)->text(), QStringLiteral("ADC Statistics"));
        pages->setCurrentRow(8);
        QCOMPARE(child<QStackedWidget>(QStringLiteral("stackedParameters"))->currentWidget()->objectName(),
                 QStringLiteral("pageFilter"));
        QVERIFY(!child<QPushButton>(QStringLiteral("btnResetToDefaultTimings"))->autoDefault());
        QCOMPARE(child<ComboBox>(QStringLiteral("comboMuxerChannel1"))->itemText(15),
                 QStringLiteral("Charge 2 with gating"));
        QCOMPARE(m_widget->channelStateLeds(2)->leds().at(3)->toolTip(), QStringLiteral("Transfering"));
        auto *filter = child<DoubleSpinBox>(QStringLiteral("spinboxAdc2BandpassUpper"));
        QCOMPARE(filter->minimum(), 100.0);
        QCOMPARE(filter->maximum(), 600.0);
        QCOMPARE(filter->suffix(), QStringLiteral("kHz"));
        auto *periods = child<DoubleSpinBox>(QStringLiteral("spinPeriodsCharge2"));
        QCOMPARE(periods->specialValueText(), QStringLiteral("do not use"));
        QCOMPARE(periods->maximum(), 999999999.0);
    }

    void periodSeries()
    {
        const QList<quint64> samples = DravikExpertWidget_v2::series125(1000000, 5400000000000ULL);
        QCOMPARE(samples.first(), quint64(1000000));
        QCOMPARE(samples.last(), quint64(5000000000000ULL));
        QCOMPARE(samples.size(), 21);
        QCOMPARE(DravikExpertWidget_v2::series125(1000000, 2000000000).last(), quint64(2000000000));
        QCOMPARE(DravikExpertWidget_v2::series125(3, 40), (QList<quint64>{5, 10, 20}));

        auto *sample = child<ComboBox>(QStringLiteral("comboSamplePeriodMuxer"));
        QCOMPARE(sample->count(), 21);
        QCOMPARE(sample->itemText(0), QStringLiteral("1 ms"));
        QCOMPARE(sample->itemText(20), QStringLiteral("5 ks"));
        QCOMPARE(child<ComboBox>(QStringLiteral("comboTimeoutCharge0"))->itemText(12), QStringLiteral("10 s"));
        auto *pretrigger = child<ComboBox>(QStringLiteral("comboPretriggerTestVoltage"));
        QCOMPARE(pretrigger->count(), 7);
        QCOMPARE(pretrigger->itemText(2), QStringLiteral("-500 µs"));
        QCOMPARE(pretrigger->itemData(0).toLongLong(), -2000000LL);
    }

    void timingValueInsertedInOrder()
    {
        auto *sample = child<ComboBox>(QStringLiteral("comboSamplePeriodCharge1"));
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
        auto *pretrigger = child<ComboBox>(QStringLiteral("comboPretriggerCharge1"));
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
        QVERIFY(m_widget->channelStateLeds(3)->leds().at(0)->isOn());
        QVERIFY(m_widget->channelStateLeds(3)->leds().at(1)->isOn());
        QVERIFY(!m_widget->channelStateLeds(3)->leds().at(2)->isOn());
        // The byte names its channel, whichever parameter carries it.
        m_fixture->confirm(1011, 0xF0);
        QCOMPARE(m_widget->channelStateLeds(0)->state(), 15u);
        QCOMPARE(m_widget->channelStateLeds(3)->state(), 3u);
    }

    void parameterToControl_data()
    {
        QTest::addColumn<QVariantList>("confirms");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");

        QTest::newRow("expert mode on") << QVariantList{set(2010, true)} << "stackedParameters"
                                        << QByteArray("enabled") << QVariant(true);
        QTest::newRow("expert mode off") << QVariantList{set(2010, false)} << "stackedParameters"
                                         << QByteArray("enabled") << QVariant(false);
        QTest::newRow("gain compensation") << QVariantList{set(2004, true)} << "chkboxGainCompensation"
                                           << QByteArray("checked") << QVariant(true);
        QTest::newRow("device info") << QVariantList{set(1006, 3), set(1007, 2), set(1008, 23)} << "textDeviceInfo"
                                     << QByteArray("plainText") << QVariant("hw 2; fw 23; sw 3");
        QTest::newRow("trigger source") << QVariantList{set(1043, 13)} << "comboTrigger0Source"
                                        << QByteArray("currentText") << QVariant("Charge");
        QTest::newRow("low-pass upper in kHz") << QVariantList{} << "spinboxAdc0Lowpass0Upper" << QByteArray("value")
                                               << QVariant(500.0);
        QTest::newRow("band-pass lower") << QVariantList{set(1063, floats({100000, 400000}))}
                                         << "spinboxAdc1BandpassLower" << QByteArray("value") << QVariant(100.0);
        QTest::newRow("band-pass upper") << QVariantList{set(1063, floats({100000, 400000}))}
                                         << "spinboxAdc1BandpassUpper" << QByteArray("value") << QVariant(400.0);
        QTest::newRow("high-pass lower") << QVariantList{set(1067, floats({30000, 0}))} << "spinboxAdc2Highpass0Lower"
                                         << QByteArray("value") << QVariant(30.0);
        QTest::newRow("short filter list ignored") << QVariantList{set(1053, floats({7000}))}
                                                   << "spinboxAdc0Lowpass0Upper" << QByteArray("value") << QVariant(500.0);
        QTest::newRow("gain slider position") << QVariantList{set(1075, 12.0f)} << "sliderUserGatingGain"
                                              << QByteArray("value") << QVariant(2);
        QTest::newRow("gain slider range") << QVariantList{} << "sliderUserGatingGain" << QByteArray("maximum")
                                           << QVariant(3);
        QTest::newRow("gain label") << QVariantList{set(1075, 12.0f)} << "lblUserGatingGain" << QByteArray("text")
                                    << QVariant("12dB");
        QTest::newRow("test voltage high") << QVariantList{set(1078, 20.0f)} << "radioHighVoltageGain"
                                           << QByteArray("checked") << QVariant(true);
        QTest::newRow("test voltage low") << QVariantList{set(1078, 0.0f)} << "radioLowVoltageGain"
                                          << QByteArray("checked") << QVariant(true);
        QTest::newRow("bandwidth out of range") << QVariantList{set(1084, 2.0f)} << "radioLowBandwidth"
                                                << QByteArray("enabled") << QVariant(false);
        QTest::newRow("system gating bandwidth") << QVariantList{set(1093, 1.0f)} << "radioHighSystemGatingBandwidth"
                                                 << QByteArray("checked") << QVariant(true);
        QTest::newRow("user gating bandwidth") << QVariantList{set(1096, 0.2f)} << "radioLowUserGatingBandwidth"
                                               << QByteArray("checked") << QVariant(true);
        QTest::newRow("remote power") << QVariantList{set(1087, 0.7f)} << "chkboxPowerExtGain"
                                      << QByteArray("checked") << QVariant(true);
        QTest::newRow("clock source") << QVariantList{set(1090, 1.0f)} << "chkboxClockSource"
                                      << QByteArray("checked") << QVariant(true);
        QTest::newRow("gating only low byte") << QVariantList{set(1098, 0x100)} << "groupGatingSystem"
                                              << QByteArray("checked") << QVariant(false);
        QTest::newRow("user gating on") << QVariantList{set(1101, true)} << "groupGatingUser"
                                        << QByteArray("checked") << QVariant(true);
        QTest::newRow("digital gating") << QVariantList{set(1105, 1)} << "checkDigitalGating1"
                                        << QByteArray("checked") << QVariant(true);
        QTest::newRow("muxer source") << QVariantList{set(1111, 7)} << "comboMuxerChannel0"
                                      << QByteArray("currentText") << QVariant("Charge 0 filtered");
        QTest::newRow("muxer source unknown") << QVariantList{set(1112, 99)} << "comboMuxerChannel1"
                                              << QByteArray("currentIndex") << QVariant(-1);
        QTest::newRow("dual mode needs exactly 1") << QVariantList{set(1113, 2)} << "chkboxMutexDualMode"
                                                   << QByteArray("checked") << QVariant(false);
        QTest::newRow("muxer gating") << QVariantList{set(1114, 1)} << "chkboxMutexGating"
                                      << QByteArray("checked") << QVariant(true);
        QTest::newRow("temperatures") << QVariantList{set(1122, "T1 30; T2 31")} << "textTemperatures"
                                      << QByteArray("plainText") << QVariant("T1 30\nT2 31");
        QTest::newRow("inversion") << QVariantList{set(1127, true)} << "chkboxAdc1Invert" << QByteArray("checked")
                                   << QVariant(true);
        QTest::newRow("statistics") << QVariantList{set(1188, 1.23456789)} << "lblStatisticsMean"
                                    << QByteArray("text") << QVariant("1.23457");
        QTest::newRow("whole number") << QVariantList{set(1045, 1234)} << "spinTrigger0Holdtime"
                                      << QByteArray("value") << QVariant(1234.0);
        QTest::newRow("unused channel") << QVariantList{set(1029, 0)} << "comboFramePeriodCharge0"
                                        << QByteArray("enabled") << QVariant(false);
        QTest::newRow("used channel") << QVariantList{set(1029, 0), set(1029, 4)} << "comboTimeoutCharge0"
                                      << QByteArray("enabled") << QVariant(true);
        QTest::newRow("level") << QVariantList{set(1044, 0.25f)} << "spinboxTrigger0Level" << QByteArray("value")
                               << QVariant(0.25);
        QTest::newRow("fan omega") << QVariantList{set(1184, 0.35f)} << "spinboxFcOmega" << QByteArray("value")
                                   << QVariant(0.35);
    }

    void parameterToControl()
    {
        QFETCH(QVariantList, confirms);
        QFETCH(QString, object);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        confirmAll(confirms);
        const QVariant actual = child(object)->property(property);
        if (expected.type() == QVariant::Double)
            QVERIFY2(qAbs(actual.toDouble() - expected.toDouble()) < 1e-6, qPrintable(actual.toString()));
        else
            QCOMPARE(actual, expected);
    }

    void controlToParameter_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<int>("id");
        QTest::addColumn<QVariant>("written");

        using T = tst_ExpertWidget;
        QTest::newRow("muxer combo") << Action([](T *t) { t->activate("comboMuxerChannel0", 4); }) << 1111
                                     << QVariant(4);
        QTest::newRow("trigger source combo") << Action([](T *t) { t->activate("comboTrigger1Source", 2); })
                                              << 1048 << QVariant(13);
        QTest::newRow("frame period combo") << Action([](T *t) { t->activate("comboFramePeriodCharge1", 2); })
                                            << 1033 << QVariant::fromValue<qulonglong>(5000000);
        QTest::newRow("pre-trigger combo") << Action([](T *t) { t->activate("comboPretriggerMuxer", 0); }) << 1020
                                           << QVariant::fromValue<qlonglong>(-2000000);
        QTest::newRow("holdtime") << Action([](T *t) { t->edit("spinGatingUserHoldtime", 4096); }) << 1103
                                  << QVariant(4096.0);
        QTest::newRow("periods") << Action([](T *t) { t->edit("spinPeriodsTestVoltage", 5); }) << 1024
                                 << QVariant(5.0);
        QTest::newRow("level") << Action([](T *t) { t->edit("doubleSpinboxGatingSystemLevel", -0.5); }) << 1099
                               << QVariant(-0.5);
        QTest::newRow("fan temperature") << Action([](T *t) { t->edit("spinboxFcMaxTemperature", 80); }) << 1181
                                         << QVariant(80.0);
        QTest::newRow("localisation level") << Action([](T *t) { t->edit("spinboxTriggerCharge", 12.5); }) << 2007
                                            << QVariant(12.5);
        QTest::newRow("filter edit in kHz") << Action([](T *t) { t->edit("spinboxAdc0Lowpass0Upper", 400); }) << 1053
                                            << QVariant(floats({20000, 400000}));
        QTest::newRow("bandwidth high") << Action([](T *t) { t->click("radioHighBandwidth"); }) << 1084
                                        << QVariant(1.0);
        QTest::newRow("system gating bandwidth") << Action([](T *t) { t->click("radioHighSystemGatingBandwidth"); })
                                                 << 1093 << QVariant(1.0);
        QTest::newRow("user gating bandwidth") << Action([](T *t) { t->click("radioHighUserGatingBandwidth"); })
                                               << 1096 << QVariant(1.0);
        QTest::newRow("test voltage high") << Action([](T *t) { t->click("radioHighVoltageGain"); }) << 1078
                                           << QVariant(20.0f);
        QTest::newRow("gain slider") << Action([](T *t) { t->child<QSlider>("sliderUserGatingGain")->setValue(3); })
                                     << 1075 << QVariant(20.0f);
        QTest::newRow("remote power") << Action([](T *t) { t->click("chkboxPowerExtGain"); }) << 1087
                                      << QVariant(1.0f);
        QTest::newRow("clock source") << Action([](T *t) { t->click("chkboxClockSource"); }) << 1090
                                      << QVariant(1.0f);
        QTest::newRow("gain compensation") << Action([](T *t) { t->click("chkboxGainCompensation"); }) << 2004
                                           << QVariant(true);
        QTest::newRow("inversion") << Action([](T *t) { t->click("chkboxAdc2Invert"); }) << 1128 << QVariant(true);
        QTest::newRow("dual mode") << Action([](T *t) { t->click("chkboxMutexDualMode"); }) << 1113 << QVariant(1);
        QTest::newRow("muxer gating") << Action([](T *t) { t->click("chkboxMutexGating"); }) << 1114 << QVariant(1);
        QTest::newRow("digital gating") << Action([](T *t) { t->click("checkDigitalGating1"); }) << 1105
                                        << QVariant::fromValue<quint8>(1);
        QTest::newRow("system gating") << Action([](T *t) {
            auto *group = t->child<QGroupBox>("groupGatingSystem");
            group->setChecked(true);
            Q_EMIT group->clicked(true);
        }) << 1098 << QVariant(true);
        QTest::newRow("expert mode") << Action([](T *t) { t->click("checkBoxExpertMode"); }) << 2010
                                     << QVariant(false);
    }

    void controlToParameter()
    {
        QFETCH(Action, action);
        QFETCH(int, id);
        QFETCH(QVariant, written);
        action(this);
        QCOMPARE(m_fixture->allPending(), QList<int>{id});
        QCOMPARE(m_fixture->requested(id), written);
        QCOMPARE(m_fixture->requested(id).userType(), written.userType());
    }

    void testVoltageNeedsTwoLevels()
    {
        m_fixture->confirm(1077, floats({0, 10, 20}));
        click(QStringLiteral("radioHighVoltageGain"));
        QVERIFY(m_fixture->allPending().isEmpty());
    }

    void pendingMarksTabledControls()
    {
        edit(QStringLiteral("spinTrigger1Holdtime"), 77);
        auto *spinBox = child(QStringLiteral("spinTrigger1Holdtime"));
        QVERIFY(spinBox->property("changingParam").toBool());
        m_fixture->confirmPending(1050);
        QVERIFY(!spinBox->property("changingParam").toBool());
        QCOMPARE(spinBox->property("value").toDouble(), 77.0);
    }

    void triggerSourcesKeepSelection()
    {
        m_fixture->confirm(1048, 5);
        m_widget->onSetTriggerSources({{13, QStringLiteral("Charge")}, {5, QStringLiteral("PD raw")}});
        auto *combo = child<ComboBox>(QStringLiteral("comboTrigger1Source"));
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
        widget->findChild<QPushButton *>(QStringLiteral("btnResetToDefaultTimings"))->click();
        QCOMPARE(reset.count(), 1);
        Q_EMIT device.setTriggerSources({{13, QStringLiteral("Charge")}});
        QCOMPARE(widget->findChild<ComboBox *>(QStringLiteral("comboTrigger0Source"))->count(), 1);
    }
};

QTEST_MAIN(tst_ExpertWidget)
#include "tst_expertwidget.moc"
