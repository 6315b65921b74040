#include "CheckBox.h"
#include "Dravik_v2.h"
#include "DravikConfigurationWidget_v2.h"
#include "DravikWidgetFactory_v2.h"
#include "PushButton.h"
#include "WidgetTest.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryFile>


namespace {
enum Id { SerialNumber = 1116, MacAddress, IpAddress, IpPort, IpNetmask, IpGateway, Calibration = 1123, DeviceType };
enum GatingId { GatingLevel = 1174, GatingHoldTime };

QVariant hex(const char *digits) { return QByteArray::fromHex(digits); }

struct Gating
{
    double shown, hold;
    const char *button;
    double written, holdWritten;
};
} // namespace

Q_DECLARE_METATYPE(Gating)

// The configuration widget on bare containers: byte layouts and values the
// simulator does not report, the calibration rows, the gating rounding and the
// firmware file; the writes and read-backs run on the real device in
// tst_widgetsondevice.
class tst_ConfigurationWidget : public QObject, WidgetHarness<DravikConfigurationWidget_v2>
{
    Q_OBJECT

private:
    void create(bool service, bool production)
    {
        m_widget.reset();
        m_widget.reset(new DravikConfigurationWidget_v2(service, production, m_fixture->user, m_fixture->device));
    }
    QList<DoubleSpinBox *> actual() const { return m_widget->actualVoltageSpinBoxes(); }
    QList<DoubleSpinBox *> nominal() const { return m_widget->nominalVoltageSpinBoxes(); }

private Q_SLOTS:
    void init()
    {
        m_fixture.reset(new WidgetFixture);
        create(true, true);
    }
    void cleanup() { tearDown(); }

    void visibilityByAccess_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<bool>("production");
        QTest::newRow("operator") << false << false;
        QTest::newRow("service") << true << false;
        QTest::newRow("production") << false << true;
    }
    void visibilityByAccess()
    {
        QFETCH(bool, service);
        QFETCH(bool, production);
        create(service, production);
        for (const char *name : {"comboUpdateMode", "serviceFrame", "settingsFrame"})
            QVERIFY2(child(name)->isHidden() != (service || production), name);
        QCOMPARE(!child("btnDefaultParameters")->isHidden(), production);
        for (const char *name : {"triggerSettingsFrame", "widgetCalibrationHint", "pbFirmwareUpdate", "lblFirmwareUpdateState"})
            QVERIFY2(child(name)->isHidden(), name);
        QVERIFY(!child("firmwareFrame")->isHidden());
    }

    void parameterToControl_data()
    {
        shownColumns();
        shownRow("serial", {{SerialNumber, hex("15cd5b0700000000")}}, "edtSerialNumber", "text", "123456789");
        shownRow("port", {{IpPort, hex("bace")}}, "edtPortAddress", "text", "52922");
        shownRow("serial, wrong size", {{SerialNumber, hex("15cd")}}, "edtSerialNumber", "text", "undefined");
        shownRow("unknown device type", {{DeviceType, 1}, {DeviceType, 0}}, "deviceTypeCombo", "currentIndex", 0);
        shownRow("no such type", {{DeviceType, 1}, {DeviceType, 9}}, "deviceTypeCombo", "currentIndex", -1);
        shownRow("no type", {{DeviceType, 1}, {DeviceType, QVariant()}}, "deviceTypeCombo", "currentIndex", -1);
        shownRow("no calibration", {}, "lblFactor", "text", "---");
        shownRow("calibration, wrong size", {{Calibration, le(2601.6)}, {Calibration, QByteArray(4, '\0')}},
                 "lblFactor", "text", "2602");
        const Confirms versions = {{1008, 5}, {1007, 2}, {1006, 3}};
        shownRow("versions unknown", versions.mid(0, 2), "lblFirmwareVersion", "text", "not available");
        shownRow("descriptor without versions", {{1003, QByteArray("2026")}}, "lblFirmwareDate", "text", "not available");
        shownRow("descriptor", versions + Confirms{{1003, QByteArray("2026-03-01 12:00\0\0\0", 19)}},
                 "lblFirmwareDate", "text", "2026-03-01 12:00");
    }
    void parameterToControl() { checkShown(*m_fixture, m_widget.get()); }

    void addressNotifications()
    {
        for (bool service : {true, false}) {
            create(service, true);
            QSignalSpy notifications(m_widget.get(), &DravikConfigurationWidget_v2::notification);
            m_fixture->confirm(IpAddress, QByteArray::fromHex("7f000001"));
            m_fixture->confirm(IpPort, QByteArray::fromHex("bace"));
            QCOMPARE(notifications.count(), service ? 2 : 0);
            if (!service)
                break;
            QCOMPARE(notifications.at(0),
                     (QVariantList{QVariant::fromValue(StatusInformation), "Device IP address is 127.0.0.1.", -1}));
            QCOMPARE(notifications.at(1).at(1).toString(), QStringLiteral("Device IP port is 52922."));
        }
    }

    void applyDeviceParameters()
    {
        // 300 does not fit a byte: the address is left alone, the rest is applied.
        const std::pair<const char *, const char *> edits[] = {
            {"edtIpAddress", "10.0.0.300"}, {"edtNetmask", "255.255.255.0"},     {"edtGateway", "10.0.0.1"},
            {"edtPortAddress", "52922"},    {"edtSerialNumber", "123456789"}, {"edtMacAddress", "00:1A:2B:3C:4D:5E"}};
        for (const auto &field : edits)
            child<QLineEdit>(field.first)->setText(QString::fromLatin1(field.second));
        child<ComboBox>("deviceTypeCombo")->setCurrentIndex(2);
        child<PushButton>("btnApplyDeviceParameters")->click();

        QVERIFY(!m_fixture->pending(IpAddress));
        QCOMPARE(m_fixture->requested(IpNetmask), hex("ffffff00"));
        QCOMPARE(m_fixture->requested(IpGateway), hex("0a000001"));
        QCOMPARE(m_fixture->requested(IpPort), hex("bace"));
        QCOMPARE(m_fixture->requested(SerialNumber), hex("15cd5b0700000000"));
        QCOMPARE(m_fixture->requested(MacAddress), hex("001a2b3c4d5e"));
        QCOMPARE(m_fixture->requested(DeviceType), QVariant(2));
        QCOMPARE(m_fixture->device->pendingIds().size(), 6);
    }

    void resetDeviceParameters()
    {
        m_fixture->confirm(DeviceType, 3);
        child<PushButton>("btnDefaultParameters")->click();
        QCOMPARE(m_fixture->requested(IpAddress), hex("c0a8dc64"));
        QCOMPARE(m_fixture->requested(IpNetmask), hex("ffff0000"));
        QCOMPARE(m_fixture->requested(IpGateway), hex("c0a8dcfe"));
        QCOMPARE(m_fixture->requested(IpPort), hex("bace"));
        QVERIFY(m_fixture->pending(DeviceType));
        QVERIFY(!m_fixture->requested(DeviceType).isValid());
    }

    void addressValue_data()
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
    void addressValue()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(int, base);
        QFETCH(QByteArray, expected);
        QCOMPARE(DravikConfigurationWidget_v2::addressValue(text, separator, base), expected);
    }

    void calibrationReset()
    {
        m_fixture->confirm(Calibration, le(2500.0));
        child<CheckBox>("chkMultipleCalibrationValues")->setChecked(true);
        nominal().first()->setValue(10.0);
        actual().first()->setValue(10.0);
        m_widget->updateTestVoltageCalibration();
        QCOMPARE(actual().size(), 2);

        child<PushButton>("btnResetTestVoltageFactor")->click();
        QCOMPARE(m_widget->calibrationFactor(), 2640.0);
        QCOMPARE(m_fixture->requested(Calibration), QVariant(le(2640.0)));
        QCOMPARE(child<QLabel>("lblFactor")->text(), QStringLiteral("2640"));
        QCOMPARE(actual().size(), 1);
        QCOMPARE(actual().first()->value(), 0.0);
        QVERIFY(!child("widgetCalibrationHint")->isHidden());
    }

    void multipleCalibrationRows()
    {
        auto *multiple = child<CheckBox>("chkMultipleCalibrationValues");
        multiple->setChecked(true); // an incomplete row adds nothing
        QCOMPARE(actual().size(), 1);
        multiple->setChecked(false);

        nominal().at(0)->setValue(10.0);
        actual().at(0)->setValue(10.4);
        multiple->setChecked(true);
        QCOMPARE(actual().size(), 2);
        nominal().at(1)->setValue(20.0);
        actual().at(1)->setValue(21.2);
        QVERIFY(qFuzzyCompare(m_widget->updateTestVoltageCalibration(), (1.04 + 1.06) / 2));
        QCOMPARE(actual().size(), 3);

        // An empty row that is not the last goes; the empty last one stays.
        nominal().at(0)->setValue(0.0);
        actual().at(0)->setValue(0.0);
        QVERIFY(qFuzzyCompare(m_widget->updateTestVoltageCalibration(), 1.06));
        QCOMPARE(actual().size(), 2);
        QCOMPARE(nominal().at(0)->value(), 20.0);

        multiple->setChecked(false);
        QCOMPARE(actual().size(), 1);
        QCOMPARE(nominal().size(), 1);
        QCOMPARE(child("widgetActualVoltage")->findChildren<DoubleSpinBox *>().size(), 1);
    }

    void gatingSpinBoxes()
    {
        QCOMPARE(child<DoubleSpinBox>("systemGatingThresholdSpinBox")->value(), 0.16);
        QCOMPARE(child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->value(), 20.0);
        // Values the container holds win over the defaults.
        m_fixture->confirm(GatingLevel, 0.3);
        m_fixture->confirm(GatingHoldTime, 45000.0);
        create(false, false);
        QCOMPARE(child<DoubleSpinBox>("systemGatingThresholdSpinBox")->value(), 0.3);
        QCOMPARE(child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->value(), 45.0);
    }

    void gatingThresholdRounding_data()
    {
        QTest::addColumn<Gating>("c"); // typed threshold and hold time, button, written level and hold time
        const double byDefault = double(float(0.1585));
        const char *apply = "applyGatingParametersButton";
        QTest::newRow("shows as the default") << Gating{0.16, 35, apply, byDefault, 35000};
        QTest::newRow("typed the default") << Gating{0.1585, 35, apply, byDefault, 35000};
        QTest::newRow("0.17") << Gating{0.17, 35, apply, 0.17, 35000};
        QTest::newRow("0.15") << Gating{0.15, 35, apply, 0.15, 35000};
        QTest::newRow("defaults") << Gating{0.5, 100, "setGatingDefaultsButton", byDefault, 20000};
    }
    void gatingThresholdRounding()
    {
        QFETCH(Gating, c);
        const auto &[shown, hold, button, written, holdWritten] = c;
        child<DoubleSpinBox>("systemGatingThresholdSpinBox")->setValue(shown);
        child<DoubleSpinBox>("systemGatingHoldTimeSpinBox")->setValue(hold);
        child<PushButton>(button)->click();
        QCOMPARE(m_fixture->requested(GatingLevel).toDouble(), written);
        QCOMPARE(m_fixture->requested(GatingHoldTime).toDouble(), holdWritten);
    }

    void firmwareUpdateSendsFile()
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

    // Progress shows while updating; connecting hides and clears it.
    void firmwareProgressAndConnection()
    {
        auto *bar = child<QProgressBar>("pbFirmwareUpdate");
        auto *state = child<QLabel>("lblFirmwareUpdateState");
        m_widget->firmwareUpdateStatus(3, 0.5, QStringLiteral("Writing firmware"));
        QCOMPARE(bar->value(), 50);
        QCOMPARE(state->text(), QStringLiteral("Writing firmware"));
        QVERIFY(!bar->isHidden() && !state->isHidden());
        m_widget->firmwareUpdateStatus(3, 0.999, QStringLiteral("Writing firmware"));
        QCOMPARE(bar->value(), 99);

        for (bool connected : {true, false}) {
            if (connected)
                m_widget->onDeviceConnected();
            else
                m_widget->onDeviceDisconnected(0);
            QCOMPARE(child<QLabel>("lblConnectState")->text(), QString(connected ? "Connected" : "Not connected"));
            for (const char *frame : {"firmwareFrame", "serviceFrame", "settingsFrame"})
                QVERIFY2(child(frame)->isEnabled() == connected, frame);
            QVERIFY(bar->isHidden() && state->isHidden());
            QCOMPARE(bar->value(), 0);
            QVERIFY(state->text().isEmpty());
        }
    }

    // The firmware path between widget and device, which no detector answers here.
    void factory()
    {
        Dravik_v2 device;
        QVERIFY(device.initialize());
        std::unique_ptr<QWidget> created(DravikWidgetFactory_v2::create(1, &device));
        auto *widget = qobject_cast<DravikConfigurationWidget_v2 *>(created.get());
        QVERIFY(widget);
        // The device was given no settings: no service or production access.
        QVERIFY(childOf(widget, "serviceFrame")->isHidden());

        QSignalSpy deviceUpdates(&device, &Dravik_v2::firmwareUpdate);
        Q_EMIT widget->firmwareUpdate(QByteArray("image"), 2);
        QCOMPARE(deviceUpdates.count(), 1);
        QCOMPARE(deviceUpdates.at(0).at(0).toByteArray(), QByteArray("image"));
        QSignalSpy deviceNotifications(&device, &AbstractDevice::notification);
        Q_EMIT widget->notification(StatusInformation, QStringLiteral("hello"), -1);
        QCOMPARE(deviceNotifications.count(), 1);
        QCOMPARE(deviceNotifications.at(0).at(1).toString(), QStringLiteral("hello"));
        Q_EMIT device.firmwareUpdateState(2, 0.25, QStringLiteral("Transferring"));
        QCOMPARE(childOf<QProgressBar>(widget, "pbFirmwareUpdate")->value(), 25);
    }
};

QTEST_MAIN(tst_ConfigurationWidget)
#include "tst_configurationwidget.moc"
