#include "ComboBox.h"
#include "Dravik_v2.h"
#include "DravikControlWidget_v2.h"
#include "DravikWidgetFactory_v2.h"
#include "Label.h"
#include "LogCapture.h"
#include "RadioButton.h"
#include "WidgetFixture.h"

#include <QButtonGroup>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

namespace {
enum Id {
    MeasurementState = 1010,
    Trigger1Source = 1048,
    GainTestVoltageLevels = 1077,
    GainTestVoltageValue = 1078,
    GainPdBandwidthValue = 1084,
    GainSystemGatingBandwidthValue = 1093,
    GainUserGatingBandwidthValue = 1096,
    UserCharge = 2000,
    UserMeasurementMode = 2002,
    TriggerLevelByCharge = 2007,
    TriggerLevelRelative = 2008,
    ExpertMode = 2010
};

const QHash<int, QString> kStateTexts = {{0, "Not ready"}, {1, "Ready"},   {2, "Starting"},
                                         {3, "Running"},   {4, "Stopping"}, {5, "Terminated"},
                                         {6, "Timed out"}, {7, "Transfer"}, {8, "Waiting"},
                                         {9, "Error"}};
} // namespace

class tst_ControlWidget : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WidgetFixture> m_fixture;
    std::unique_ptr<DravikControlWidget_v2> m_widget;

    template<typename T>
    T *child(const char *name) const
    {
        T *found = m_widget->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void form();
    void connectionPages();
    void chargeRanges();
    void chooseChargeMarksPendingUntilConfirmed_data();
    void chooseChargeMarksPendingUntilConfirmed();
    void unknownChargeIsAdded();
    void chargeThatIsNoNumber();
    void chargeTriggerText_data();
    void chargeTriggerText();
    void measurementModeSwitchesRows_data();
    void measurementModeSwitchesRows();
    void triggerSourceShowsLevel_data();
    void triggerSourceShowsLevel();
    void expertModeLocksParameters();
    void bandwidthFromParameter_data();
    void bandwidthFromParameter();
    void bandwidthToParameter_data();
    void bandwidthToParameter();
    void sliderBothWays();
    void gatingBandwidthGroups_data();
    void gatingBandwidthGroups();
    void testVoltageGainNeedsTwoLevels_data();
    void testVoltageGainNeedsTwoLevels();
    void stateBar_data();
    void stateBar();
    void factory();
};

void tst_ControlWidget::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void tst_ControlWidget::init()
{
    m_fixture.reset(new WidgetFixture);
    m_widget.reset(new DravikControlWidget_v2(m_fixture->user, m_fixture->device));
    m_widget->onSetMeasurementStates(kStateTexts);
}

void tst_ControlWidget::cleanup()
{
    m_widget.reset();
    m_fixture.reset();
}

void tst_ControlWidget::form()
{
    QCOMPARE(m_widget->windowTitle(), QStringLiteral("Form"));
    auto *slider = child<QSlider>("sliderChargeTriggerRelative");
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 1);
    QCOMPARE(slider->maximum(), 100);
    auto *group = child<QButtonGroup>("groupBandwidth");
    QCOMPARE(group->id(child<RadioButton>("radioLowBandwidth")), 0);
    QCOMPARE(group->id(child<RadioButton>("radioHighBandwidth")), 1);
    QCOMPARE(child<Label>("lblQRange")->text(), QStringLiteral("Q range"));
    QCOMPARE(child<Label>("lblState")->text(), QStringLiteral("State"));
    QCOMPARE(child<Label>("label_3")->text(), QStringLiteral("Not Connected"));
    QVERIFY(!child<Label>("disconnected")->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(child<QProgressBar>("progressState")->minimum(), 0);
    QCOMPARE(child<QProgressBar>("progressState")->maximum(), 5);
    QVERIFY(child<QProgressBar>("progressState")->isTextVisible());
}

void tst_ControlWidget::connectionPages()
{
    auto *stack = child<QStackedWidget>("stackedWidget");
    QCOMPARE(stack->currentWidget(), child<QWidget>("pageNotConnected"));
    m_widget->onDeviceConnected();
    QCOMPARE(stack->currentWidget(), child<QWidget>("pageConnected"));
    m_widget->onDeviceDisconnected(-1003);
    QCOMPARE(stack->currentWidget(), child<QWidget>("pageNotConnected"));
}

void tst_ControlWidget::chargeRanges()
{
    auto *combo = child<ComboBox>("comboQRange");
    QStringList texts;
    QList<double> values;
    for (int i = 0; i < combo->count(); ++i) {
        texts << combo->itemText(i);
        values << combo->itemData(i).toDouble();
    }
    QCOMPARE(texts, QStringList({"100 pC", "1 nC", "10 nC", "100 nC"}));
    QCOMPARE(values, QList<double>({1e-10, 1e-9, 1e-8, 1e-7}));
    QCOMPARE(DravikBaseWidget_v2::formatCharge(1e-10), QStringLiteral("100 pC"));
}

void tst_ControlWidget::chooseChargeMarksPendingUntilConfirmed_data()
{
    QTest::addColumn<bool>("detectorAccepts");
    QTest::newRow("confirmed") << true;
    QTest::newRow("failed") << false;
}

void tst_ControlWidget::chooseChargeMarksPendingUntilConfirmed()
{
    QFETCH(bool, detectorAccepts);
    auto *combo = child<ComboBox>("comboQRange");
    m_fixture->confirm(UserCharge, 1e-10);
    QCOMPARE(combo->currentIndex(), 0);

    // The user picks "1 nC" with the keyboard, as with the popup.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentText(), QStringLiteral("1 nC"));
    QVERIFY(m_fixture->pending(UserCharge));
    QCOMPARE(m_fixture->requested(UserCharge).toDouble(), 1e-9);
    QCOMPARE(combo->property("changingParam").toBool(), true);

    if (detectorAccepts) {
        m_fixture->confirmPending(UserCharge);
        QCOMPARE(combo->currentText(), QStringLiteral("1 nC"));
    } else {
        m_fixture->fail(UserCharge);
        // Back to what the detector holds.
        QCOMPARE(combo->currentText(), QStringLiteral("100 pC"));
    }
    QCOMPARE(combo->property("changingParam").toBool(), false);
}

void tst_ControlWidget::unknownChargeIsAdded()
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
}

void tst_ControlWidget::chargeThatIsNoNumber()
{
    LogCapture log;
    auto *combo = child<ComboBox>("comboQRange");
    m_fixture->confirm(UserCharge, QStringLiteral("lots"));
    QCOMPARE(combo->count(), 4);
    bool logged = false;
    for (const QString &text : log.texts(QtDebugMsg))
        logged |= text.startsWith(QStringLiteral("[DRAVIK.UI]: unable to set charge value"));
    QVERIFY(logged);
}

void tst_ControlWidget::chargeTriggerText_data()
{
    QTest::addColumn<double>("charge");
    QTest::addColumn<double>("level");
    QTest::addColumn<QString>("expected");
    QTest::newRow("10 nC range") << 1e-8 << 2.5 << "Localisation level 2.5nC";
    QTest::newRow("1 nC range") << 1e-9 << 0.25 << "Localisation level 250pC";
    QTest::newRow("100 nC range") << 1e-7 << 12.4 << "Localisation level 12nC";
    QTest::newRow("100 pC range") << 1e-10 << 0.0456 << "Localisation level 46pC";
}

void tst_ControlWidget::chargeTriggerText()
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

void tst_ControlWidget::measurementModeSwitchesRows_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("bandwidthShown");
    QTest::newRow("PD") << 1 << true;
    QTest::newRow("other") << 0 << false;
    QTest::newRow("another") << 3 << false;
}

void tst_ControlWidget::measurementModeSwitchesRows()
{
    QFETCH(int, mode);
    QFETCH(bool, bandwidthShown);
    m_fixture->confirm(UserMeasurementMode, mode);
    QCOMPARE(!child<QWidget>("widgetBandwidth")->isHidden(), bandwidthShown);
    QCOMPARE(!child<QWidget>("widgetQRange")->isHidden(), !bandwidthShown);
}

void tst_ControlWidget::triggerSourceShowsLevel_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<bool>("shown");
    QTest::newRow("charge trigger") << 13 << true;
    QTest::newRow("external") << 12 << false;
    QTest::newRow("none") << 0 << false;
}

void tst_ControlWidget::triggerSourceShowsLevel()
{
    QFETCH(int, source);
    QFETCH(bool, shown);
    m_fixture->confirm(Trigger1Source, source);
    QCOMPARE(!child<QWidget>("widgetTriggerLevel")->isHidden(), shown);
}

void tst_ControlWidget::expertModeLocksParameters()
{
    m_fixture->confirm(ExpertMode, true);
    QVERIFY(!child<QWidget>("widgetParameters")->isEnabled());
    QVERIFY(child<QWidget>("widgetStateBar")->isEnabled());
    m_fixture->confirm(ExpertMode, false);
    QVERIFY(child<QWidget>("widgetParameters")->isEnabled());
}

void tst_ControlWidget::bandwidthFromParameter_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("low");
    QTest::addColumn<bool>("high");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("low") << 0.0 << true << false << true;
    QTest::newRow("high") << 1.0 << false << true << true;
    QTest::newRow("out of range") << 2.0 << false << false << false;
}

void tst_ControlWidget::bandwidthFromParameter()
{
    QFETCH(double, value);
    QFETCH(bool, low);
    QFETCH(bool, high);
    QFETCH(bool, enabled);
    auto *radioLow = child<RadioButton>("radioLowBandwidth");
    auto *radioHigh = child<RadioButton>("radioHighBandwidth");
    m_fixture->confirm(GainPdBandwidthValue, 1.0 - value); // start from the other choice
    m_fixture->confirm(GainPdBandwidthValue, value);
    QCOMPARE(radioLow->isChecked(), low);
    QCOMPARE(radioHigh->isChecked(), high);
    QCOMPARE(radioLow->isEnabled(), enabled);
    QCOMPARE(radioHigh->isEnabled(), enabled);
    QVERIFY(m_fixture->allPending().isEmpty()); // showing a value writes nothing back
}

void tst_ControlWidget::bandwidthToParameter_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("expected");
    QTest::newRow("low") << "radioLowBandwidth" << 0.0;
    QTest::newRow("high") << "radioHighBandwidth" << 1.0;
}

void tst_ControlWidget::bandwidthToParameter()
{
    QFETCH(QString, button);
    QFETCH(double, expected);
    m_fixture->confirm(UserMeasurementMode, 1);
    m_fixture->confirm(GainPdBandwidthValue, 1.0 - expected);
    m_widget->onDeviceConnected();
    auto *radio = child<RadioButton>(qPrintable(button));
    QTest::mouseClick(radio, Qt::LeftButton, Qt::NoModifier, QPoint(10, radio->height() / 2));
    QVERIFY(m_fixture->pending(GainPdBandwidthValue));
    const QVariant requested = m_fixture->requested(GainPdBandwidthValue);
    QCOMPARE(requested.userType(), int(QMetaType::Double));
    QCOMPARE(requested.toDouble(), expected);
}

void tst_ControlWidget::sliderBothWays()
{
    auto *slider = child<QSlider>("sliderChargeTriggerRelative");
    m_fixture->confirm(TriggerLevelRelative, 42);
    QCOMPARE(slider->value(), 42);
    QVERIFY(m_fixture->allPending().isEmpty());

    slider->setValue(70);
    QVERIFY(m_fixture->pending(TriggerLevelRelative));
    QCOMPARE(m_fixture->requested(TriggerLevelRelative).toInt(), 70);
}

void tst_ControlWidget::gatingBandwidthGroups_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("system gating") << int(GainSystemGatingBandwidthValue);
    QTest::newRow("user gating") << int(GainUserGatingBandwidthValue);
}

void tst_ControlWidget::gatingBandwidthGroups()
{
    QFETCH(int, id);
    m_fixture->confirm(id, 0.0);
    if (id == GainSystemGatingBandwidthValue)
        m_widget->onGrpSystemGatingBandwidthValueChanged(1);
    else
        m_widget->onGrpUserGatingBandwidthValueChanged(1);
    QCOMPARE(m_fixture->allPending(), QList<int>{id});
    QCOMPARE(m_fixture->requested(id), QVariant(1.0));
}

void tst_ControlWidget::testVoltageGainNeedsTwoLevels_data()
{
    QTest::addColumn<QVariantList>("levels");
    QTest::addColumn<bool>("written");
    QTest::newRow("two levels") << QVariantList({1.0, 10.0}) << true;
    QTest::newRow("three levels") << QVariantList({1.0, 10.0, 100.0}) << false;
    QTest::newRow("one level") << QVariantList({1.0}) << false;
}

void tst_ControlWidget::testVoltageGainNeedsTwoLevels()
{
    QFETCH(QVariantList, levels);
    QFETCH(bool, written);
    m_fixture->confirm(GainTestVoltageLevels, levels);
    m_fixture->confirm(GainTestVoltageValue, 0.5);
    m_widget->onGrpTestVoltageGainValueChanged(1);
    QCOMPARE(m_fixture->pending(GainTestVoltageValue), written);
    if (written)
        QCOMPARE(m_fixture->requested(GainTestVoltageValue), levels.at(1));
}

void tst_ControlWidget::stateBar_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("step");
    const int steps[] = {0, 0, 1, 2, 3, 5, 5, 4, 0, 0};
    for (int state = 0; state < 10; ++state)
        QTest::addRow("state %d", state) << state << kStateTexts.value(state) << steps[state];
    QTest::newRow("unknown state") << 12 << "undefined" << 0;
}

void tst_ControlWidget::stateBar()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(int, step);
    auto *bar = child<QProgressBar>("progressState");
    m_fixture->confirm(MeasurementState, state);
    QCOMPARE(bar->format(), text);
    QCOMPARE(bar->value(), step);
}

void tst_ControlWidget::factory()
{
    Dravik_v2 device;
    QVERIFY(device.initialize());
    QCOMPARE(DravikWidgetFactory_v2::create(3, &device), static_cast<QWidget *>(nullptr));

    std::unique_ptr<QWidget> created(DravikWidgetFactory_v2::create(2, &device));
    auto *widget = qobject_cast<DravikControlWidget_v2 *>(created.get());
    QVERIFY(widget);
    auto *stack = widget->findChild<QStackedWidget *>("stackedWidget");
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageNotConnected"));
    // The device's state texts reach the bar.
    device.userContainer()->update(MeasurementState, 1, 0);
    device.deviceContainer()->update(MeasurementState, 1, 0);
    QCOMPARE(widget->findChild<QProgressBar *>("progressState")->format(), device.measurementStateTexts().value(1));

    Q_EMIT device.opened();
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageConnected"));
    Q_EMIT device.closed(0);
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageNotConnected"));

    // Connection requests go to the device's handlers (not triggered here:
    // connecting would dial the factory address).
    QVERIFY(QObject::disconnect(widget, SIGNAL(connectDevice()), &device, SLOT(onConnect())));
    QVERIFY(QObject::disconnect(widget, SIGNAL(disconnectDevice()), &device, SLOT(onDisconnect())));
    QVERIFY(QObject::disconnect(&device, &AbstractDevice::ready, widget, &DravikControlWidget_v2::onReady));
    QVERIFY(QObject::disconnect(&device, &AbstractDevice::started, widget, &DravikControlWidget_v2::onStarted));
    QVERIFY(QObject::disconnect(&device, &AbstractDevice::stopped, widget, &DravikControlWidget_v2::onStopped));
}

QTEST_MAIN(tst_ControlWidget)
#include "tst_controlwidget.moc"
