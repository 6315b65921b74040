#include "CheckBox.h"
#include "DravikConfigurationWidget_v2.h"
#include "DravikControlWidget_v2.h"
#include "DravikDebugWidget_v2.h"
#include "DravikExpertWidget_v2.h"
#include "DravikSimulator.h"
#include "DravikWidgetFactory_v2.h"
#include "Dravik_v2.h"
#include "LogCapture.h"
#include "StateLedWidget_v2.h"
#include "TestQuery.h"
#include "WidgetTest.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <memory>

// The four widgets as the device builds them, on the real device against the
// simulator on loopback: a user's change reaches the detector's memory with
// the right bytes, the read-back comes back to the control, and nothing ends
// pending (a "changingParam" mark, a yellow row) or red.
namespace {
enum Kind { Configuration = 1, Control = 2, Debug = 4, Expert = 8 };
enum Command : quint16 {
    Timings = 0x0F42, Trigger = 0x0F44, Filter = 0x0F45, Gating = 0x0F46, Gain = 0x0F47, Muxer = 0x0F4A,
    AdcConfig = 0x0F4B, Digital = 0x0F4C, Config = 0x0F83, Fan = 0x0F84
};
enum Id { MeasurementState = 1010, SettingsConnection = 1171, ExpertMode = 2010 };

// What a control shows, read from the widget of its row.
using Probe = std::function<QVariant(QWidget *)>;

Probe shownBy(const char *object, const char *property)
{
    return [=](QWidget *w) { return childOf(w, QLatin1String(object))->property(property); };
}

// What the user commits in the value column of the parameter tree.
WidgetAction editTree(int id, const QString &text)
{
    return [=](QWidget *w) { treeItem(w, id)->setText(2, text); };
}

WidgetAction activateData(const char *name, const QVariant &data)
{
    return [=](QWidget *w) {
        auto *combo = childOf<ComboBox>(w, QLatin1String(name));
        activate(QLatin1String(name), combo->findData(data))(w);
    };
}

WidgetAction typeAndClick(QList<QPair<const char *, QString>> fields, const char *button)
{
    return [=](QWidget *w) {
        for (const auto &field : fields)
            childOf<QLineEdit>(w, QLatin1String(field.first))->setText(field.second);
        childOf<QAbstractButton>(w, QLatin1String(button))->click();
    };
}

// One control: the widget it sits in and the mode it needs, what the user
// does, the parameter requested (value and type; invalid: nothing may be
// written), where the detector keeps it (get command 0: a plug-in parameter)
// and what the control shows once the detector has answered.
struct Row
{
    Kind kind; // the expert widget's rows in expert mode, all others without
    WidgetAction action;
    int id;
    QVariant written;
    quint16 get;
    quint8 index;
    int offset;
    QByteArray bytes;
    Probe shown;
    QVariant expected;
    Confirms from = {}; // requested through the device before the action
};

WidgetAction slide(const char *name, int value)
{
    return [=](QWidget *w) { childOf<QSlider>(w, QLatin1String(name))->setValue(value); };
}

// A check box or radio button clicked: checked (or not) once the detector has answered.
Row clicked(Kind kind, const char *name, int id, const QVariant &written, quint16 get, quint8 index, int offset,
            const QByteArray &bytes, bool checked = true)
{
    return {kind, clickOn(name), id, written, get, index, offset, bytes, shownBy(name, "checked"), checked};
}

// A spin box given a value: it shows the value once the detector has answered.
Row edited(Kind kind, const char *name, double value, int id, const QVariant &written, quint16 get = 0,
           quint8 index = 0, int offset = 0, const QByteArray &bytes = {})
{
    return {kind, edit(name, value), id, written, get, index, offset, bytes, shownBy(name, "value"), value};
}
} // namespace

Q_DECLARE_METATYPE(Probe)
Q_DECLARE_METATYPE(Row)

class tst_WidgetsOnDevice : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DravikSimulator> m_sim;
    std::unique_ptr<Dravik_v2> m_device;
    std::unique_ptr<QWidget> m_host;
    QHash<int, QWidget *> m_widgets;

    QWidget *debug() const { return m_widgets.value(Debug); }
    DravikExpertWidget_v2 *expert() const { return static_cast<DravikExpertWidget_v2 *>(m_widgets.value(Expert)); }
    ParameterHandler *containerOf(int id) const
    {
        return m_device->userContainer()->contains(id) ? m_device->userContainer().data()
                                                       : m_device->deviceContainer().data();
    }
    bool settled() const
    {
        return m_device->userContainer()->pendingIds().isEmpty() && m_device->deviceContainer()->pendingIds().isEmpty();
    }
    void setExpertMode(bool on)
    {
        if (m_device->value(ExpertMode).toBool() != on)
            m_device->setValue(ExpertMode, on);
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
    }
    // Controls marked pending anywhere in the four widgets.
    QStringList markedPending() const
    {
        QStringList names;
        for (QWidget *child : m_host->findChildren<QWidget *>()) {
            if (child->property("changingParam").toBool())
                names << child->objectName();
        }
        return names;
    }

    static void row(const char *tag, const Row &r) { QTest::newRow(tag) << r; }

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        m_sim = std::make_unique<DravikSimulator>();
        QVERIFY2(m_sim->listen(), qPrintable(m_sim->errorString()));
        m_device = std::make_unique<Dravik_v2>();
        m_device->setWidgetFactory(&DravikWidgetFactory_v2::create);
        QVERIFY(m_device->initialize());
        // The simulator on this machine, never the factory address.
        const QString address = QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort());
        QVERIFY(m_device->applySettings({{"NetworkAddress", address}, {"DevelopMode", true}}));
        QCOMPARE(m_device->value(SettingsConnection).toString(), address);

        m_host = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(m_host.get());
        for (Kind kind : {Control, Configuration, Expert, Debug}) {
            m_device->createWidget(kind, layout);
            m_widgets.insert(kind, layout->itemAt(layout->count() - 1)->widget());
        }
        m_host->show();

        QSignalSpy opened(m_device.get(), &AbstractDevice::opened);
        childOf<QAbstractButton>(m_widgets.value(Configuration), QStringLiteral("btnConnect"))->click();
        QVERIFY(opened.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
    }

    void cleanupTestCase()
    {
        m_host.reset();
        m_device.reset();
        m_sim.reset();
    }

    void controls_data()
    {
        QTest::addColumn<Row>("r");
        // Control widget, with expert mode off.
        row("Q range", {Control, activate("comboQRange", 2), 2000, 1e-8, 0, 0, 0, {},
                        shownBy("comboQRange", "currentText"), "10 nC"});
        row("relative trigger", {Control, slide("sliderChargeTriggerRelative", 70), 2008, 70, 0, 0, 0, {},
                                 shownBy("sliderChargeTriggerRelative", "value"), 70});
        row("bandwidth", clicked(Control, "radioHighBandwidth", 1084, 1.0f, Gain, 4, 4, le(1.0f)));

        // Expert widget, page by page.
        row("localisation level", edited(Expert, "spinboxTriggerCharge", 2.5, 2007, 2.5));
        row("gain compensation", clicked(Expert, "chkboxGainCompensation", 2004, false, 0, 0, 0, {}, false));
        // The detector offers four test voltage levels, not the two Low and High choose from.
        row("test voltage refused", {Expert, clickOn("radioHighVoltageGain"), 1078, {}, Gain, 2, 0, {},
                                     shownBy("radioLowVoltageGain", "checked"), true});
        // The device switches the remote amplifier with the charge range.
        Row remotePower = clicked(Expert, "chkboxPowerExtGain", 1087, 1.0f, Gain, 5, 4, le(1.0f));
        remotePower.from = {{1087, 0.0f}};
        row("remote power", remotePower);
        row("user gating gain", {Expert, slide("sliderUserGatingGain", 5), 1075, 16.0f, Gain, 1, 4, le(16.0f),
                                 shownBy("lblUserGatingGain", "text"), "16dB"});
        row("remote amp gain", {Expert, slide("sliderPdGain", 4), 1081, 24.0f, Gain, 3, 4, le(24.0f),
                                shownBy("lblPdGain", "text"), "24dB"});
        row("system gating bandwidth",
            clicked(Expert, "radioHighSystemGatingBandwidth", 1093, 1.0f, Gain, 7, 4, le(1.0f)));
        row("user gating bandwidth", clicked(Expert, "radioHighUserGatingBandwidth", 1096, 1.0f, Gain, 8, 4, le(1.0f)));
        row("clock source", clicked(Expert, "chkboxClockSource", 1090, 1.0f, Gain, 6, 4, le(1.0f)));
        row("user gating on", {Expert, [](QWidget *w) {
                                   auto *group = childOf<QGroupBox>(w, "groupGatingUser");
                                   group->setChecked(true);
                                   Q_EMIT group->clicked(true);
                               }, 1101, true, Gating, 2, 1, le(quint8(1)), shownBy("groupGatingUser", "checked"),
                               true});
        row("system gating level",
            edited(Expert, "doubleSpinboxGatingSystemLevel", -0.5, 1099, -0.5, Gating, 3, 4, le(-0.5f)));
        row("user gating hold time",
            edited(Expert, "spinGatingUserHoldtime", 4096, 1103, 4096.0, Gating, 2, 8, le(quint32(4096))));
        row("digital gating",
            clicked(Expert, "checkDigitalGating0", 1104, QVariant::fromValue<quint8>(1), Gating, 0, 1, le(quint8(1))));
        row("digital hold time",
            edited(Expert, "spinDigitalGating0Holdtime", 50, 1134, 50.0, Digital, 0, 5, le(quint32(50))));
        row("trigger source", {Expert, activateData("comboTrigger0Source", 13), 1043, 13, Trigger, 0, 4,
                               le(quint32(13)), shownBy("comboTrigger0Source", "currentText"), "Charge 0 with gating"});
        row("trigger level", edited(Expert, "spinboxTrigger1Level", 0.25, 1049, 0.25, Trigger, 1, 8, le(0.25f)));
        row("trigger hold time",
            edited(Expert, "spinTrigger1Holdtime", 777, 1050, 777.0, Trigger, 1, 12, le(quint32(777))));
        row("frame period", {Expert, activateData("comboFramePeriodCharge1", qulonglong(5000000)), 1033,
                             qulonglong(5000000), Timings, 3, 32, le(quint64(5000000)),
                             shownBy("comboFramePeriodCharge1", "currentText"), "5 ms"});
        row("pre-trigger", {Expert, activateData("comboPretriggerMuxer", qlonglong(-500000)), 1020, qlonglong(-500000),
                            Timings, 0, 16, le(qint64(-500000)), shownBy("comboPretriggerMuxer", "currentText"),
                            "-500 µs"});
        row("periods", edited(Expert, "spinPeriodsTestVoltage", 5, 1024, 5.0, Timings, 1, 4, le(quint32(5))));
        row("muxer source", {Expert, activate("comboMuxerChannel0", 7), 1111, 7, Muxer, 0, 2, le(quint8(7)),
                             shownBy("comboMuxerChannel0", "currentText"), "Charge 0 filtered"});
        row("muxer gating", clicked(Expert, "chkboxMutexGating", 1114, 1, Muxer, 0, 1, le(quint8(1))));
        row("ADC inversion", clicked(Expert, "chkboxAdc2Invert", 1128, true, AdcConfig, 2, 1, le(quint8(1))));
        row("filter in kHz", edited(Expert, "spinboxAdc0Lowpass0Upper", 400, 1053, floats({1, 400000, 0, 0, 0}), Filter,
                                    0, 8, le(400000.0f)));
        row("fan", edited(Expert, "spinboxFcMaxTemperature", 80, 1181, 80.0, Fan, 0, 4, le(80.0f)));
        row("expert mode", {Expert, clickOn("checkBoxExpertMode"), ExpertMode, false, 0, 0, 0, {},
                            shownBy("stackedParameters", "enabled"), false});

        // Configuration widget; "Apply device parameters" writes every field,
        // the unchanged ones without a change (-1), which is no failure.
        row("alive timeout", edited(Configuration, "aliveTimeoutSpinBox", 4000, 1172, 4000));
        const WidgetAction gating = [](QWidget *w) {
            childOf<DoubleSpinBox>(w, "systemGatingThresholdSpinBox")->setValue(0.3);
            childOf<DoubleSpinBox>(w, "systemGatingHoldTimeSpinBox")->setValue(35);
            childOf<QAbstractButton>(w, "applyGatingParametersButton")->click();
        };
        row("gating threshold", {Configuration, gating, 1174, 0.3, 0, 0, 0, {},
                                 shownBy("systemGatingThresholdSpinBox", "value"), 0.3});
        row("gating hold time again", {Configuration, gating, 1175, {}, 0, 0, 0, {},
                                       shownBy("systemGatingHoldTimeSpinBox", "value"), 35.0});
        row("device address", {Configuration, typeAndClick({{"edtIpAddress", "10.0.0.5"}}, "btnApplyDeviceParameters"),
                               1118, QByteArray::fromHex("0a000005"), Config, 2, 1, QByteArray::fromHex("0a000005"),
                               shownBy("edtIpAddress", "text"), "10.0.0.5"});
        row("device type", {Configuration, [](QWidget *w) {
                                childOf<ComboBox>(w, "deviceTypeCombo")->setCurrentIndex(2);
                                childOf<QAbstractButton>(w, "btnApplyDeviceParameters")->click();
                            }, 1124, 2, Config, 8, 1, QByteArray("2"), shownBy("deviceTypeCombo", "currentText"), "Belvo"});
        row("no device type", {Configuration, [](QWidget *w) {
                                   childOf<ComboBox>(w, "deviceTypeCombo")->setCurrentIndex(-1);
                                   childOf<QAbstractButton>(w, "btnApplyDeviceParameters")->click();
                               }, 1124, {}, Config, 8, 1, {}, shownBy("deviceTypeCombo", "currentIndex"), -1});
        row("calibration", {Configuration, [](QWidget *w) {
                                auto *widget = static_cast<DravikConfigurationWidget_v2 *>(w);
                                widget->nominalVoltageSpinBoxes().first()->setValue(10.0);
                                widget->actualVoltageSpinBoxes().first()->setValue(10.5);
                                childOf<QAbstractButton>(w, "btnAdjustTestVoltageFactor")->click();
                            }, 1123, le(2640.0 / 1.05), Config, 7, 1, le(2640.0 / 1.05), shownBy("lblFactor", "text"), "2514"});

        // The parameter tree, edited in place.
        const Probe tree1044 = [](QWidget *w) { return treeItem(w, 1044)->text(2); };
        row("tree level", {Debug, editTree(1044, "0.375"), 1044, 0.375, Trigger, 0, 8, le(0.375f),
                           tree1044, "0.375"});
        row("tree same level", {Debug, editTree(1044, "0.3750"), 1044, {}, Trigger, 0, 8, {}, tree1044, "0.375"});
        row("tree address", {Debug, editTree(1121, "10.0.0.1"), 1121, QByteArray::fromHex("0a000001"), Config, 6,
                             1, QByteArray::fromHex("0a000001"), [](QWidget *w) { return treeItem(w, 1121)->text(2); },
                             "10.0.0.1"});
        // Never read from the detector: no type to take the text as.
        row("tree without a value", {Debug, editTree(1177, "abc"), 1177, {}, 0, 0, 0, {},
                                     [](QWidget *w) { return treeItem(w, 1177)->text(2); }, ""});
    }
    void controls()
    {
        QFETCH(Row, r);
        setExpertMode(r.kind == Expert);
        for (const auto &request : qAsConst(r.from))
            m_device->setValue(request.first, request.second);
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
        LogCapture log;
        QWidget *widget = m_widgets.value(r.kind);
        const QByteArray before = r.get ? m_sim->parameter(r.get, r.index) : QByteArray();
        r.action(widget);

        ParameterHandler *container = containerOf(r.id);
        const bool pending = container->pendingIds().contains(r.id);
        if (r.written.isValid()) {
            // The device confirms its own parameters at once; the detector's wait, in yellow.
            QCOMPARE(container->newValue(r.id), r.written);
            QCOMPARE(container->newValue(r.id).userType(), r.written.userType());
            QCOMPARE(pending, r.get != 0);
            if (pending)
                QCOMPARE(treeItem(debug(), r.id)->background(2).color(), QColor(Qt::yellow));
        } else {
            QVERIFY(!pending);
        }
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);

        if (r.get) {
            const QByteArray memory = m_sim->parameter(r.get, r.index);
            if (r.written.isValid())
                QCOMPARE(memory.mid(r.offset, r.bytes.size()).toHex(), r.bytes.toHex());
            else
                QCOMPARE(memory.toHex(), before.toHex());
        }
        // The confirmation reaches the widgets queued, a moment after the container.
        const auto shownAsExpected = [&] {
            const QVariant shown = r.shown(widget);
            return r.expected.userType() == QMetaType::Double ? qAbs(shown.toDouble() - r.expected.toDouble()) < 1e-6
                                                              : shown == r.expected;
        };
        QTRY_VERIFY2(shownAsExpected(), qPrintable(r.shown(widget).toString()));
        QTRY_COMPARE(markedPending(), QStringList());
        QTRY_COMPARE(treeItem(debug(), r.id)->background(2).color(), QColor(Qt::white));
        QStringList qtWarnings;
        for (const QString &line : log.unexpectedQtWarnings()) {
            // The offscreen platform's note on every shown window is no fault of ours.
            if (!line.startsWith(QLatin1String("[DRAVIK")) && !line.contains(QLatin1String("propagateSizeHints")))
                qtWarnings << line;
        }
        QCOMPARE(qtWarnings, QStringList());
    }

    // A detector that refuses a write: the control shows what it holds.
    void refusedByTheDetector()
    {
        setExpertMode(true);
        m_sim->setFailAck(0x0F2A);
        const bool before = childOf<CheckBox>(expert(), "chkboxMutexDualMode")->isChecked();
        clickOn("chkboxMutexDualMode")(expert());
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
        QTRY_COMPARE(treeItem(debug(), 1113)->background(2).color(), QColor(Qt::red));
        m_sim->clearFailAck(0x0F2A);
        QCOMPARE(childOf<CheckBox>(expert(), "chkboxMutexDualMode")->isChecked(), before);
        QCOMPARE(markedPending(), QStringList());
    }

    // Switching expert mode on enables the gain page: the read-outs keep the gains.
    void gainReadoutsKeepTheirGains()
    {
        setExpertMode(false);
        setExpertMode(true);
        m_host->setPalette(QPalette(Qt::darkGray));
        const QList<QPair<QString, int>> gains = {{"lblSystemGatingGain", 1072}, {"lblUserGatingGain", 1075},
                                                  {"lblPdGain", 1081}};
        for (const auto &gain : gains) {
            QCOMPARE(childOf<QLabel>(expert(), gain.first)->text(),
                     QString::number(m_device->value(gain.second).toDouble()) + "dB");
        }
        m_host->setPalette(QPalette());
    }

    void measurementLightsTheChannels()
    {
        setExpertMode(false);
        m_device->setDataTransferEnabled(true);
        m_device->setEnvironment(TestQuery());
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
        QSignalSpy ready(m_device.get(), &AbstractDevice::ready);
        m_device->start();
        QVERIFY(ready.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(expert()->channelStateLeds(2)->state() != 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(childOf<QProgressBar>(m_widgets.value(Control), "progressState")->format(),
                                  m_device->measurementStateTexts().value(m_device->value(MeasurementState).toInt()),
                                  5000);
        // The tree shows the report bytes (channel 2 in the low nibble).
        QVERIFY2(QRegularExpression("^0x[1-7]2$").match(treeItem(debug(), 1013)->text(2)).hasMatch(),
                 qPrintable(treeItem(debug(), 1013)->text(2)));
        QSignalSpy stopped(m_device.get(), qOverload<int>(&AbstractDevice::stopped));
        m_device->stop(false);
        QVERIFY(stopped.wait(10000));
    }

    void readLogFromTheDebugView()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dravik.log"));
        m_device->setValue(1177, file);
        QSignalSpy read(m_device.get(), &Dravik_v2::logFileRead);
        childOf<QAbstractButton>(debug(), QStringLiteral("btnReadLog"))->click();
        QVERIFY(read.wait(10000));
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), m_sim->deviceLog());
    }

    // Last: a new address closes the link, for the next open to use it, and
    // the versions read as unknown until the next identification.
    void newAddressClosesTheLink()
    {
        const QString versions = QStringLiteral("hw %1; fw %2; sw %3")
                                     .arg(uint(m_sim->identity().hardwareVersion))
                                     .arg(uint(m_sim->identity().firmwareVersion))
                                     .arg(uint(m_sim->identity().softwareVersion));
        QWidget *configuration = m_widgets.value(Configuration);
        QCOMPARE(childOf<QLabel>(configuration, "lblFirmwareVersion")->text(), versions);
        QCOMPARE(childOf<QPlainTextEdit>(expert(), "textDeviceInfo")->toPlainText(), versions);
        QSignalSpy closed(m_device.get(), &AbstractDevice::closed);
        typeAndClick({{"edtConnectionPort", "1"}}, "btnApplyConnectionParameters")(configuration);
        QCOMPARE(m_device->value(SettingsConnection).toString(), QStringLiteral("127.0.0.1:1"));
        QVERIFY(closed.wait(10000));
        QCOMPARE(markedPending(), QStringList());
        QCOMPARE(treeItem(debug(), SettingsConnection)->background(2).color(), QColor(Qt::white));
        for (const char *label : {"lblFirmwareVersion", "lblFirmwareDate"})
            QCOMPARE(childOf<QLabel>(configuration, label)->text(), QStringLiteral("not available"));
        QCOMPARE(childOf<QPlainTextEdit>(expert(), "textDeviceInfo")->toPlainText(), QStringLiteral("not available"));
    }
};

QTEST_MAIN(tst_WidgetsOnDevice)
#include "tst_widgetsondevice.moc"
