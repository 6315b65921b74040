#include "CheckBox.h"
#include "ComboBox.h"
#include "DoubleSpinBox.h"
#include "Dravik_v2.h"
#include "DravikConfigurationWidget_v2.h"
#include "DravikWidgetFactory_v2.h"
#include "Label.h"
#include "PushButton.h"
#include "WidgetFixture.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {
enum Id {
    DeviceDescriptor = 1003,
    SoftwareVersion = 1006,
    HardwareVersion = 1007,
    FirmwareVersion = 1008,
    SerialNumber = 1116,
    MacAddress = 1117,
    IpAddress = 1118,
    IpPort = 1119,
    IpNetmask = 1120,
    IpGateway = 1121,
    Calibration = 1123,
    DeviceType = 1124,
    Connection = 1171,
    AliveTimeout = 1172,
    GatingLevel = 1174,
    GatingHoldTime = 1175
};

QByteArray doubleBytes(double value)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}
} // namespace

class tst_ConfigurationWidget : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WidgetFixture> m_fixture;
    std::unique_ptr<DravikConfigurationWidget_v2> m_widget;

    void create(bool service, bool production)
    {
        m_widget.reset();
        m_widget.reset(new DravikConfigurationWidget_v2(service, production, m_fixture->user, m_fixture->device));
    }

    template<typename T>
    T *child(const char *name) const
    {
        T *found = m_widget->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }

private Q_SLOTS:
    void init();
    void cleanup();

    void visibilityByAccess_data();
    void visibilityByAccess();
    void combos();
    void connectionSetting();
    void aliveTimeout();
    void deviceParameterDisplay_data();
    void deviceParameterDisplay();
    void pendingStatusChangesNothing();
    void addressNotifications_data();
    void addressNotifications();
    void deviceTypeDisplay_data();
    void deviceTypeDisplay();
    void applyDeviceParameters();
    void resetDeviceParameters();
    void addressValue_data();
    void addressValue();
    void calibrationAdjustment();
    void calibrationReset();
    void calibrationFromParameter();
    void multipleCalibrationRows();
    void gatingSpinBoxes();
    void gatingThresholdRounding_data();
    void gatingThresholdRounding();
    void gatingDefaults();
    void firmwareUpdateSendsFile();
    void firmwareProgress();
    void connectionState();
    void factory();
};

void tst_ConfigurationWidget::init()
{
    m_fixture.reset(new WidgetFixture);
    create(true, true);
}

void tst_ConfigurationWidget::cleanup()
{
    m_widget.reset();
    m_fixture.reset();
}

void tst_ConfigurationWidget::visibilityByAccess_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<bool>("production");
    QTest::newRow("operator") << false << false;
    QTest::newRow("service") << true << false;
    QTest::newRow("production") << false << true;
    QTest::newRow("both") << true << true;
}

void tst_ConfigurationWidget::visibilityByAccess()
{
    QFETCH(bool, service);
    QFETCH(bool, production);
    create(service, production);
    const bool extended = service || production;
    QCOMPARE(!child<QWidget>("comboUpdateMode")->isHidden(), extended);
    QCOMPARE(!child<QWidget>("serviceFrame")->isHidden(), extended);
    QCOMPARE(!child<QWidget>("settingsFrame")->isHidden(), extended);
    QCOMPARE(!child<QWidget>("btnDefaultParameters")->isHidden(), production);
    QVERIFY(child<QWidget>("triggerSettingsFrame")->isHidden());
    QVERIFY(child<QWidget>("widgetCalibrationHint")->isHidden());
    QVERIFY(child<QWidget>("pbFirmwareUpdate")->isHidden());
    QVERIFY(child<QWidget>("lblFirmwareUpdateState")->isHidden());
    QVERIFY(!child<QWidget>("firmwareFrame")->isHidden());
}

void tst_ConfigurationWidget::combos()
{
    auto *types = child<ComboBox>("deviceTypeCombo");
    QStringList texts;
    QList<int> data;
    for (int i = 0; i < types->count(); ++i) {
        texts << types->itemText(i);
        data << types->itemData(i).toInt();
    }
    QCOMPARE(texts, QStringList({"Unknown", "Aldra", "Belvo", "Corvin", "Delmar"}));
    QCOMPARE(data, QList<int>({0, 1, 2, 3, 4}));

    auto *modes = child<ComboBox>("comboUpdateMode");
    texts.clear();
    data.clear();
    for (int i = 0; i < modes->count(); ++i) {
        texts << modes->itemText(i);
        data << modes->itemData(i).toInt();
    }
    QCOMPARE(texts, QStringList({"Default", "Partition 1 application", "All", "Partition 0 application"}));
    QCOMPARE(data, QList<int>({0, 0, 2, 2}));
}

void tst_ConfigurationWidget::connectionSetting()
{
    m_fixture->confirm(Connection, QStringLiteral("127.0.0.1:52999"));
    QCOMPARE(child<QLineEdit>("edtConnectionIpAddress")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(child<QLineEdit>("edtConnectionPort")->text(), QStringLiteral("52999"));

    child<QLineEdit>("edtConnectionIpAddress")->setText(QStringLiteral("127.0.0.2"));
    child<QLineEdit>("edtConnectionPort")->setText(QStringLiteral("5000"));
    child<PushButton>("btnApplyConnectionParameters")->click();
    QVERIFY(m_fixture->pending(Connection));
    QCOMPARE(m_fixture->requested(Connection), QVariant(QStringLiteral("127.0.0.2:5000")));
}

void tst_ConfigurationWidget::aliveTimeout()
{
    auto *spin = child<DoubleSpinBox>("aliveTimeoutSpinBox");
    m_fixture->confirm(AliveTimeout, 3000);
    QCOMPARE(spin->value(), 3000.0);
    spin->setValue(4500.7);
    spin->onEditingFinished();
    QVERIFY(m_fixture->pending(AliveTimeout));
    QCOMPARE(m_fixture->requested(AliveTimeout), QVariant(4501));
}

void tst_ConfigurationWidget::deviceParameterDisplay_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("expected");

    QTest::newRow("serial") << int(SerialNumber) << QVariant(QByteArray::fromHex("15cd5b0700000000"))
                            << "edtSerialNumber" << "123456789";
    QTest::newRow("serial, wrong size") << int(SerialNumber) << QVariant(QByteArray::fromHex("15cd"))
                                        << "edtSerialNumber" << "undefined";
    QTest::newRow("MAC") << int(MacAddress) << QVariant(QByteArray::fromHex("001a2b3c4d5e")) << "edtMacAddress"
                         << "00:1A:2B:3C:4D:5E";
    QTest::newRow("address") << int(IpAddress) << QVariant(QByteArray::fromHex("c0a8dc64")) << "edtIpAddress"
                             << "192.168.220.100";
    QTest::newRow("netmask") << int(IpNetmask) << QVariant(QByteArray::fromHex("ffff0000")) << "edtNetmask"
                             << "255.255.0.0";
    QTest::newRow("gateway") << int(IpGateway) << QVariant(QByteArray::fromHex("c0a8dcfe")) << "edtGateway"
                             << "192.168.220.254";
    QTest::newRow("port") << int(IpPort) << QVariant(QByteArray::fromHex("bace")) << "edtPortAddress" << "52922";
    QTest::newRow("port, wrong size") << int(IpPort) << QVariant(QByteArray::fromHex("ba")) << "edtPortAddress"
                                      << "undefined";
}

void tst_ConfigurationWidget::deviceParameterDisplay()
{
    QFETCH(int, id);
    QFETCH(QVariant, value);
    QFETCH(QString, edit);
    QFETCH(QString, expected);
    m_fixture->confirm(id, value);
    QCOMPARE(child<QLineEdit>(qPrintable(edit))->text(), expected);
}

void tst_ConfigurationWidget::pendingStatusChangesNothing()
{
    m_fixture->confirm(IpPort, QByteArray::fromHex("bace"));
    m_fixture->device->setValue(IpPort, QByteArray::fromHex("0100"));
    QCOMPARE(child<QLineEdit>("edtPortAddress")->text(), QStringLiteral("52922"));
    m_fixture->confirmPending(IpPort);
    QCOMPARE(child<QLineEdit>("edtPortAddress")->text(), QStringLiteral("1"));

    m_fixture->confirm(FirmwareVersion, 5);
    m_fixture->confirm(HardwareVersion, 2);
    m_fixture->confirm(SoftwareVersion, 3);
    QCOMPARE(child<QLabel>("lblFirmwareVersion")->text(), QStringLiteral("hw 2; fw 5; sw 3"));
    m_fixture->confirm(DeviceDescriptor, QByteArray("2026-03-01 12:00\0\0\0", 19));
    QCOMPARE(child<QLabel>("lblFirmwareDate")->text(), QStringLiteral("2026-03-01 12:00"));
}

void tst_ConfigurationWidget::addressNotifications_data()
{
    QTest::addColumn<bool>("service");
    QTest::newRow("service") << true;
    QTest::newRow("production only") << false;
}

void tst_ConfigurationWidget::addressNotifications()
{
    QFETCH(bool, service);
    create(service, true);
    QSignalSpy notifications(m_widget.get(), &DravikConfigurationWidget_v2::notification);
    m_fixture->confirm(IpAddress, QByteArray::fromHex("7f000001"));
    m_fixture->confirm(IpPort, QByteArray::fromHex("bace"));
    if (!service) {
        QCOMPARE(notifications.count(), 0);
        return;
    }
    QCOMPARE(notifications.count(), 2);
    QCOMPARE(notifications.at(0).at(0).value<StatusType>(), StatusInformation);
    QCOMPARE(notifications.at(0).at(1).toString(), QStringLiteral("Device IP address is 127.0.0.1."));
    QCOMPARE(notifications.at(0).at(2).toInt(), -1);
    QCOMPARE(notifications.at(1).at(1).toString(), QStringLiteral("Device IP port is 52922."));
}

void tst_ConfigurationWidget::deviceTypeDisplay_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("index");
    QTest::newRow("Corvin") << QVariant(3) << 3;
    QTest::newRow("unknown type") << QVariant(0) << 0;
    QTest::newRow("no such type") << QVariant(9) << -1;
    QTest::newRow("nothing") << QVariant() << -1;
}

void tst_ConfigurationWidget::deviceTypeDisplay()
{
    QFETCH(QVariant, value);
    QFETCH(int, index);
    m_fixture->confirm(DeviceType, 1);
    m_fixture->confirm(DeviceType, value);
    QCOMPARE(child<ComboBox>("deviceTypeCombo")->currentIndex(), index);
}

void tst_ConfigurationWidget::applyDeviceParameters()
{
    // 300 does not fit a byte: the address is left alone, the rest is applied.
    child<QLineEdit>("edtIpAddress")->setText(QStringLiteral("10.0.0.300"));
    child<QLineEdit>("edtNetmask")->setText(QStringLiteral("255.255.255.0"));
    child<QLineEdit>("edtGateway")->setText(QStringLiteral("10.0.0.1"));
    child<QLineEdit>("edtPortAddress")->setText(QStringLiteral("52922"));
    child<QLineEdit>("edtSerialNumber")->setText(QStringLiteral("123456789"));
    child<QLineEdit>("edtMacAddress")->setText(QStringLiteral("00:1A:2B:3C:4D:5E"));
    child<ComboBox>("deviceTypeCombo")->setCurrentIndex(2);
    child<PushButton>("btnApplyDeviceParameters")->click();

    QVERIFY(!m_fixture->pending(IpAddress));
    QCOMPARE(m_fixture->requested(IpNetmask), QVariant(QByteArray::fromHex("ffffff00")));
    QCOMPARE(m_fixture->requested(IpGateway), QVariant(QByteArray::fromHex("0a000001")));
    QCOMPARE(m_fixture->requested(IpPort), QVariant(QByteArray::fromHex("bace")));
    QCOMPARE(m_fixture->requested(SerialNumber), QVariant(QByteArray::fromHex("15cd5b0700000000")));
    QCOMPARE(m_fixture->requested(MacAddress), QVariant(QByteArray::fromHex("001a2b3c4d5e")));
    QCOMPARE(m_fixture->requested(DeviceType), QVariant(2));
    QCOMPARE(m_fixture->device->pendingIds().size(), 6);
}

void tst_ConfigurationWidget::resetDeviceParameters()
{
    m_fixture->confirm(DeviceType, 3);
    child<PushButton>("btnDefaultParameters")->click();
    QCOMPARE(m_fixture->requested(IpAddress), QVariant(QByteArray::fromHex("c0a8dc64")));
    QCOMPARE(m_fixture->requested(IpNetmask), QVariant(QByteArray::fromHex("ffff0000")));
    QCOMPARE(m_fixture->requested(IpGateway), QVariant(QByteArray::fromHex("c0a8dcfe")));
    QCOMPARE(m_fixture->requested(IpPort), QVariant(QByteArray::fromHex("bace")));
    QVERIFY(m_fixture->pending(DeviceType));
    QVERIFY(!m_fixture->requested(DeviceType).isValid());
}

void tst_ConfigurationWidget::addressValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<int>("base");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("address") << "192.168.220.100" << "." << 10 << QByteArray::fromHex("c0a8dc64");
    QTest::newRow("part too large") << "10.0.0.300" << "." << 10 << QByteArray();
    QTest::newRow("255 is the largest") << "255.0" << "." << 10 << QByteArray::fromHex("ff00");
    QTest::newRow("empty parts dropped") << "1..2." << "." << 10 << QByteArray::fromHex("0102");
    QTest::newRow("not a number") << "1.x.3" << "." << 10 << QByteArray();
    QTest::newRow("MAC") << "00:1A:2B:3C:4D:5E" << ":" << 16 << QByteArray::fromHex("001a2b3c4d5e");
    QTest::newRow("MAC, bad digit") << "00:1G" << ":" << 16 << QByteArray();
    QTest::newRow("empty") << "" << "." << 10 << QByteArray();
}

void tst_ConfigurationWidget::addressValue()
{
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(int, base);
    QFETCH(QByteArray, expected);
    QCOMPARE(DravikConfigurationWidget_v2::addressValue(text, separator, base), expected);
}

void tst_ConfigurationWidget::calibrationAdjustment()
{
    QCOMPARE(m_widget->calibrationFactor(), 2640.0);
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 1);
    DoubleSpinBox *actual = m_widget->actualVoltageSpinBoxes().first();
    DoubleSpinBox *nominal = m_widget->nominalVoltageSpinBoxes().first();
    QCOMPARE(actual->decimals(), 1);
    QCOMPARE(actual->maximum(), 300.0);
    QCOMPARE(actual->parentWidget(), child<QWidget>("widgetActualVoltage"));
    QCOMPARE(nominal->parentWidget(), child<QWidget>("widgetNominalVoltage"));
    nominal->setValue(10.0);
    actual->setValue(10.5);

    child<PushButton>("btnAdjustTestVoltageFactor")->click();
    const double expected = 2640.0 / 1.05;
    QVERIFY(qFuzzyCompare(m_widget->calibrationFactor(), expected));
    QCOMPARE(child<QLabel>("lblFactor")->text(), QStringLiteral("2514"));
    QVERIFY(m_fixture->pending(Calibration));
    const QByteArray written = m_fixture->requested(Calibration).toByteArray();
    QCOMPARE(written.size(), 8);
    QVERIFY(qFuzzyCompare(qFromLittleEndian<double>(written.constData()), expected));
    QCOMPARE(actual->value(), 10.0);
    QVERIFY(!child<QWidget>("widgetCalibrationHint")->isHidden());
}

void tst_ConfigurationWidget::calibrationReset()
{
    m_fixture->confirm(Calibration, doubleBytes(2500.0));
    child<CheckBox>("chkMultipleCalibrationValues")->setChecked(true);
    m_widget->nominalVoltageSpinBoxes().first()->setValue(10.0);
    m_widget->actualVoltageSpinBoxes().first()->setValue(10.0);
    m_widget->updateTestVoltageCalibration();
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 2);

    child<PushButton>("btnResetTestVoltageFactor")->click();
    QCOMPARE(m_widget->calibrationFactor(), 2640.0);
    QCOMPARE(m_fixture->requested(Calibration), QVariant(doubleBytes(2640.0)));
    QCOMPARE(child<QLabel>("lblFactor")->text(), QStringLiteral("2640"));
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 1);
    QCOMPARE(m_widget->actualVoltageSpinBoxes().first()->value(), 0.0);
    QVERIFY(!child<QWidget>("widgetCalibrationHint")->isHidden());
}

void tst_ConfigurationWidget::calibrationFromParameter()
{
    QCOMPARE(child<QLabel>("lblFactor")->text(), QStringLiteral("---"));
    m_fixture->confirm(Calibration, doubleBytes(2601.6));
    QCOMPARE(m_widget->calibrationFactor(), 2601.6);
    QCOMPARE(child<QLabel>("lblFactor")->text(), QStringLiteral("2602"));
    m_fixture->confirm(Calibration, QByteArray(4, '\0'));
    QCOMPARE(m_widget->calibrationFactor(), 2601.6);
}

void tst_ConfigurationWidget::multipleCalibrationRows()
{
    auto *multiple = child<CheckBox>("chkMultipleCalibrationValues");
    // An incomplete row adds nothing.
    multiple->setChecked(true);
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 1);
    multiple->setChecked(false);

    m_widget->nominalVoltageSpinBoxes().at(0)->setValue(10.0);
    m_widget->actualVoltageSpinBoxes().at(0)->setValue(10.4);
    multiple->setChecked(true);
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 2);
    m_widget->nominalVoltageSpinBoxes().at(1)->setValue(20.0);
    m_widget->actualVoltageSpinBoxes().at(1)->setValue(21.2);
    QVERIFY(qFuzzyCompare(m_widget->updateTestVoltageCalibration(), (1.04 + 1.06) / 2));
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 3);

    // An empty row that is not the last goes; the empty last one stays.
    m_widget->nominalVoltageSpinBoxes().at(0)->setValue(0.0);
    m_widget->actualVoltageSpinBoxes().at(0)->setValue(0.0);
    QVERIFY(qFuzzyCompare(m_widget->updateTestVoltageCalibration(), 1.06));
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 2);
    QCOMPARE(m_widget->nominalVoltageSpinBoxes().at(0)->value(), 20.0);

    multiple->setChecked(false);
    QCOMPARE(m_widget->actualVoltageSpinBoxes().size(), 1);
    QCOMPARE(m_widget->nominalVoltageSpinBoxes().size(), 1);
    QCOMPARE(child<QWidget>("widgetActualVoltage")->findChildren<DoubleSpinBox *>().size(), 1);
}

void tst_ConfigurationWidget::gatingSpinBoxes()
{
    auto *threshold = child<DoubleSpinBox>("systemGatingThresholdSpinBox");
    auto *holdTime = child<DoubleSpinBox>("systemGatingHoldTimeSpinBox");
    QCOMPARE(threshold->decimals(), 2);
    QCOMPARE(threshold->minimum(), 0.01);
    QCOMPARE(threshold->maximum(), 0.99);
    QCOMPARE(threshold->value(), 0.16);
    QCOMPARE(holdTime->decimals(), 0);
    QCOMPARE(holdTime->maximum(), 999.0);
    QCOMPARE(holdTime->value(), 20.0);

    // Values the container holds win over the defaults.
    m_fixture->confirm(GatingLevel, 0.3);
    m_fixture->confirm(GatingHoldTime, 45000.0);
    create(false, false);
    QCOMPARE(child<DoubleSpinBox>("systemGatingThresholdSpinBox")->value(), 0.3);
    QCOMPARE(child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->value(), 45.0);
}

void tst_ConfigurationWidget::gatingThresholdRounding_data()
{
    QTest::addColumn<double>("shown");
    QTest::addColumn<double>("written");
    QTest::newRow("shows as the default") << 0.16 << double(float(0.1585));
    QTest::newRow("typed the default") << 0.1585 << double(float(0.1585));
    QTest::newRow("0.17") << 0.17 << 0.17;
    QTest::newRow("0.15") << 0.15 << 0.15;
}

void tst_ConfigurationWidget::gatingThresholdRounding()
{
    QFETCH(double, shown);
    QFETCH(double, written);
    child<DoubleSpinBox>("systemGatingThresholdSpinBox")->setValue(shown);
    child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->setValue(35);
    child<PushButton>("applyGatingParametersButton")->click();
    QCOMPARE(m_fixture->requested(GatingLevel).toDouble(), written);
    QCOMPARE(m_fixture->requested(GatingHoldTime).toDouble(), 35000.0);
}

void tst_ConfigurationWidget::gatingDefaults()
{
    child<DoubleSpinBox>("systemGatingThresholdSpinBox")->setValue(0.5);
    child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->setValue(100);
    child<PushButton>("setGatingDefaultsButton")->click();
    QCOMPARE(child<DoubleSpinBox>("systemGatingThresholdSpinBox")->value(), 0.16);
    QCOMPARE(child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->value(), 20.0);
    QCOMPARE(m_fixture->requested(GatingLevel).toDouble(), double(float(0.1585)));
    QCOMPARE(m_fixture->requested(GatingHoldTime).toDouble(), 20000.0);
}

void tst_ConfigurationWidget::firmwareUpdateSendsFile()
{
    QSignalSpy updates(m_widget.get(), &DravikConfigurationWidget_v2::firmwareUpdate);
    child<PushButton>("btnUpdateFirmware")->click(); // no file chosen
    QCOMPARE(updates.count(), 0);

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/XXXXXX.dravikfw"));
    QVERIFY(file.open());
    const QByteArray image = QByteArray::fromHex("00112233445566778899") + QByteArray(4096, '\x5a');
    file.write(image);
    file.close();
    m_widget->setFirmwareFileName(file.fileName());
    QCOMPARE(child<QLabel>("lblFirmwareFilename")->text(), file.fileName());
    child<ComboBox>("comboUpdateMode")->setCurrentIndex(2);
    child<PushButton>("btnUpdateFirmware")->click();
    QCOMPARE(updates.count(), 1);
    QCOMPARE(updates.at(0).at(0).toByteArray(), image);
    QCOMPARE(updates.at(0).at(1).value<quint8>(), quint8(2));

    m_widget->setFirmwareFileName(file.fileName() + QStringLiteral(".missing"));
    child<PushButton>("btnUpdateFirmware")->click();
    QCOMPARE(updates.count(), 1);
}

void tst_ConfigurationWidget::firmwareProgress()
{
    m_widget->firmwareUpdateStatus(3, 0.5, QStringLiteral("Writing firmware"));
    auto *bar = child<QProgressBar>("pbFirmwareUpdate");
    auto *state = child<QLabel>("lblFirmwareUpdateState");
    QCOMPARE(bar->value(), 50);
    QVERIFY(!bar->isHidden());
    QCOMPARE(state->text(), QStringLiteral("Writing firmware"));
    QVERIFY(!state->isHidden());
    m_widget->firmwareUpdateStatus(3, 0.999, QStringLiteral("Writing firmware"));
    QCOMPARE(bar->value(), 99);
}

void tst_ConfigurationWidget::connectionState()
{
    QCOMPARE(child<QLabel>("lblConnectState")->text(), QStringLiteral("not connected"));
    m_widget->firmwareUpdateStatus(3, 0.5, QStringLiteral("Writing"));
    m_widget->onDeviceConnected();
    QCOMPARE(child<QLabel>("lblConnectState")->text(), QStringLiteral("Connected"));
    for (const char *frame : {"firmwareFrame", "serviceFrame", "settingsFrame"})
        QVERIFY2(child<QWidget>(frame)->isEnabled(), frame);
    QVERIFY(child<QWidget>("pbFirmwareUpdate")->isHidden());
    QCOMPARE(child<QProgressBar>("pbFirmwareUpdate")->value(), 0);
    QVERIFY(child<QLabel>("lblFirmwareUpdateState")->isHidden());
    QVERIFY(child<QLabel>("lblFirmwareUpdateState")->text().isEmpty());

    m_widget->onDeviceDisconnected(0);
    QCOMPARE(child<QLabel>("lblConnectState")->text(), QStringLiteral("Not connected"));
    for (const char *frame : {"firmwareFrame", "serviceFrame", "settingsFrame"})
        QVERIFY2(!child<QWidget>(frame)->isEnabled(), frame);
}

void tst_ConfigurationWidget::factory()
{
    Dravik_v2 device;
    QVERIFY(device.initialize());
    std::unique_ptr<QWidget> created(DravikWidgetFactory_v2::create(1, &device));
    auto *widget = qobject_cast<DravikConfigurationWidget_v2 *>(created.get());
    QVERIFY(widget);
    QCOMPARE(widget->findChild<QLabel *>("lblConnectState")->text(), QStringLiteral("Not connected"));
    // The device was given no settings: no service or production access.
    QVERIFY(widget->findChild<QWidget *>("serviceFrame")->isHidden());

    QSignalSpy deviceUpdates(&device, &Dravik_v2::firmwareUpdate);
    Q_EMIT widget->firmwareUpdate(QByteArray("image"), 2);
    QCOMPARE(deviceUpdates.count(), 1);
    QCOMPARE(deviceUpdates.at(0).at(0).toByteArray(), QByteArray("image"));

    QSignalSpy deviceNotifications(&device, &AbstractDevice::notification);
    Q_EMIT widget->notification(StatusInformation, QStringLiteral("hello"), -1);
    QCOMPARE(deviceNotifications.count(), 1);
    QCOMPARE(deviceNotifications.at(0).at(1).toString(), QStringLiteral("hello"));

    Q_EMIT device.firmwareUpdateState(2, 0.25, QStringLiteral("Transferring"));
    QCOMPARE(widget->findChild<QProgressBar *>("pbFirmwareUpdate")->value(), 25);

    Q_EMIT device.opened();
    QCOMPARE(widget->findChild<QLabel *>("lblConnectState")->text(), QStringLiteral("Connected"));
    QVERIFY(QObject::disconnect(widget, SIGNAL(connectDevice()), &device, SLOT(onConnect())));
    QVERIFY(QObject::disconnect(widget, SIGNAL(disconnectDevice()), &device, SLOT(onDisconnect())));
}

QTEST_MAIN(tst_ConfigurationWidget)
#include "tst_configurationwidget.moc"
