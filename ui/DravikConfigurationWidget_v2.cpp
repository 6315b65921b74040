#include "DravikConfigurationWidget_v2.h"

#include "DoubleSpinBox.h"
#include "ParameterText.h"
#include "ui_DravikConfigurationWidget_v2.h"

#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QtEndian>

#include <cmath>

namespace {
enum ParameterId {
    DeviceDescriptor = 1003,
    SoftwareVersion = 1006,
    HardwareVersion = 1007,
    FirmwareVersion = 1008,
    DeviceConfigSerialNumber = 1116,
    DeviceConfigMacAddress = 1117,
    DeviceConfigIpAddress = 1118,
    DeviceConfigIpPort = 1119,
    DeviceConfigIpNetmask = 1120,
    DeviceConfigIpGateway = 1121,
    DeviceConfigTestVoltageCalibration = 1123,
    DeviceConfigDeviceType = 1124,
    SettingsConnection = 1171,
    SettingsAliveTimeout = 1172,
    SystemGatingLevel = 1174,
    SystemGatingHoldTime = 1175
};

// The detector's factory network configuration.
const QByteArray kFactoryAddress = QByteArray::fromHex("c0a8dc64");
const QByteArray kFactoryNetmask = QByteArray::fromHex("ffff0000");
const QByteArray kFactoryGateway = QByteArray::fromHex("c0a8dcfe");
constexpr quint16 kFactoryPort = 52922;

double roundTo(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}
} // namespace

DravikConfigurationWidget_v2::DravikConfigurationWidget_v2(bool serviceAccess, bool productionAccess,
                                                           QSharedPointer<ParameterHandler> userContainer,
                                                           QSharedPointer<ParameterHandler> deviceContainer,
                                                           QWidget *parent)
    : DravikBaseWidget_v2(std::move(userContainer), std::move(deviceContainer), parent)
    , ui(new Ui::DravikConfigurationWidget_v2)
    , m_serviceAccess(serviceAccess)
    , m_productionAccess(productionAccess)
{
    ui->setupUi(this);
    ui->edtConnectionIpAddress->setInputMask(QStringLiteral("000.000.000.000"));
    ui->edtMacAddress->setInputMask(QStringLiteral("HH:HH:HH:HH:HH:HH;"));
    for (QLineEdit *edit : {ui->edtIpAddress, ui->edtNetmask, ui->edtGateway})
        edit->setInputMask(QStringLiteral("000.000.000.000;"));

    ui->aliveTimeoutSpinBox->setDecimals(0);
    ui->aliveTimeoutSpinBox->setRange(1000, 10000);
    ui->aliveTimeoutSpinBox->setSingleStep(500);
    ui->aliveTimeoutSpinBox->setSuffix(QStringLiteral(" ms"));

    ui->deviceTypeCombo->addItem(tr("Unknown"), 0);
    ui->deviceTypeCombo->addItem(tr("Aldra"), 1);
    ui->deviceTypeCombo->addItem(tr("Belvo"), 2);
    ui->deviceTypeCombo->addItem(tr("Corvin"), 3);
    ui->deviceTypeCombo->addItem(tr("Delmar"), 4);
    ui->comboUpdateMode->addItem(tr("Default"), 0);
    ui->comboUpdateMode->addItem(tr("Partition 1 application"), 0);
    ui->comboUpdateMode->addItem(tr("All"), 2);
    ui->comboUpdateMode->addItem(tr("Partition 0 application"), 2);

    const bool extendedAccess = m_serviceAccess || m_productionAccess;
    ui->comboUpdateMode->setVisible(extendedAccess);
    ui->serviceFrame->setVisible(extendedAccess);
    ui->settingsFrame->setVisible(extendedAccess);
    ui->btnDefaultParameters->setVisible(m_productionAccess);
    ui->triggerSettingsFrame->hide();
    ui->widgetCalibrationHint->hide();
    ui->pbFirmwareUpdate->setRange(0, 100);
    ui->pbFirmwareUpdate->hide();
    ui->lblFirmwareUpdateState->hide();

    setFirmwareFileName(m_firmwareFileName);

    connect(ui->btnConnect, &QAbstractButton::clicked, this, &DravikBaseWidget_v2::connectDevice);
    connect(ui->btnDisconnect, &QAbstractButton::clicked, this, &DravikBaseWidget_v2::disconnectDevice);
    connect(ui->btnAdjustTestVoltageFactor, &QAbstractButton::clicked, this,
            &DravikConfigurationWidget_v2::adjustTestVoltageCalibration);
    connect(ui->btnResetTestVoltageFactor, &QAbstractButton::clicked, this,
            &DravikConfigurationWidget_v2::resetTestVoltageCalibration);
    connect(ui->chkMultipleCalibrationValues, &QAbstractButton::toggled, this,
            &DravikConfigurationWidget_v2::onMultipleCalibrationValuesChanged);
    connect(ui->btnDefaultParameters, &QAbstractButton::clicked, this,
            &DravikConfigurationWidget_v2::setDeviceDefaultParameters);
    connect(ui->aliveTimeoutSpinBox, qOverload<QString>(&DoubleSpinBox::editingFinished), this,
            &DravikConfigurationWidget_v2::onAliveTimeoutChanged);
    connect(ui->applyGatingParametersButton, &QAbstractButton::clicked, this,
            &DravikConfigurationWidget_v2::setSystemGatingParameters);
    connect(ui->setGatingDefaultsButton, &QAbstractButton::clicked, this,
            &DravikConfigurationWidget_v2::setSystemGatingDefaultValues);

    refreshAll();
    addCalibrationRow();
    setUpGatingSpinBoxes();
}

DravikConfigurationWidget_v2::~DravikConfigurationWidget_v2() = default;

QByteArray DravikConfigurationWidget_v2::addressValue(const QString &text, const QString &separator, int base)
{
    return ParameterText::addressValue(text, separator, base);
}

void DravikConfigurationWidget_v2::setFirmwareFileName(const QString &fileName)
{
    m_firmwareFileName = fileName;
    ui->lblFirmwareFilename->setText(fileName);
}

void DravikConfigurationWidget_v2::onDeviceConnected()
{
    ui->lblConnectState->setText(connectedText());
    for (QWidget *frame : {ui->firmwareFrame, ui->serviceFrame, ui->settingsFrame})
        frame->setEnabled(true);
    ui->lblFirmwareUpdateState->clear();
    ui->lblFirmwareUpdateState->hide();
    ui->pbFirmwareUpdate->setValue(0);
    ui->pbFirmwareUpdate->hide();
}

void DravikConfigurationWidget_v2::onDeviceDisconnected(int status)
{
    Q_UNUSED(status);
    ui->lblConnectState->setText(notConnectedText());
    for (QWidget *frame : {ui->firmwareFrame, ui->serviceFrame, ui->settingsFrame})
        frame->setEnabled(false);
}

void DravikConfigurationWidget_v2::firmwareUpdateStatus(qint32 state, double progress, QString description)
{
    Q_UNUSED(state);
    ui->lblFirmwareUpdateState->setText(description);
    ui->pbFirmwareUpdate->setValue(int(progress * 100));
    ui->lblFirmwareUpdateState->show();
    ui->pbFirmwareUpdate->show();
}

void DravikConfigurationWidget_v2::refresh(int id)
{
    const QVariant value = parameter(id);
    const QByteArray bytes = value.toByteArray();
    switch (id) {
    case SettingsConnection: {
        const QStringList parts = value.toString().split(QLatin1Char(':'));
        if (parts.size() > 0)
            ui->edtConnectionIpAddress->setText(maskAligned(parts.at(0)));
        if (parts.size() > 1)
            ui->edtConnectionPort->setText(parts.at(1));
        break;
    }
    case SettingsAliveTimeout:
        ui->aliveTimeoutSpinBox->setValue(value.toInt());
        break;
    case DeviceDescriptor:
    case SoftwareVersion:
    case HardwareVersion:
    case FirmwareVersion:
        showFirmware();
        break;
    case DeviceConfigSerialNumber:
        showFormatted(id, ui->edtSerialNumber, tr("undefined"));
        break;
    case DeviceConfigMacAddress:
        showFormatted(id, ui->edtMacAddress, QStringLiteral("xx:xx:xx:xx:xx:xx"));
        break;
    case DeviceConfigIpAddress: {
        // The text as written, not as the field's mask shows it.
        const QString address = showFormatted(id, ui->edtIpAddress, QStringLiteral("x.x.x.x"));
        if (m_serviceAccess)
            Q_EMIT notification(StatusInformation, QStringLiteral("Device IP address is %1.").arg(address), -1);
        break;
    }
    case DeviceConfigIpPort: {
        const QString port = showFormatted(id, ui->edtPortAddress, tr("undefined"));
        if (m_serviceAccess)
            Q_EMIT notification(StatusInformation, QStringLiteral("Device IP port is %1.").arg(port), -1);
        break;
    }
    case DeviceConfigIpNetmask:
        showFormatted(id, ui->edtNetmask, QStringLiteral("x.x.x.x"));
        break;
    case DeviceConfigIpGateway:
        showFormatted(id, ui->edtGateway, QStringLiteral("x.x.x.x"));
        break;
    case DeviceConfigTestVoltageCalibration:
        if (bytes.size() == 8) {
            m_calibrationFactor = qFromLittleEndian<double>(bytes.constData());
            showCalibrationFactor();
        }
        break;
    case DeviceConfigDeviceType: {
        // The detector keeps the type as the decimal text of the number.
        bool ok = false;
        const int type = value.toInt(&ok);
        ui->deviceTypeCombo->setCurrentIndex(ok ? ui->deviceTypeCombo->findData(type) : -1);
        break;
    }
    default:
        break;
    }
}

void DravikConfigurationWidget_v2::showFirmware()
{
    // Version and compile time are the detector's identification: both are
    // unknown from a lost link until the detector has identified itself again.
    const QString versions = versionText();
    QByteArray descriptor = parameter(DeviceDescriptor).toByteArray();
    // The descriptor is a fixed-size field padded with zeros.
    const int end = descriptor.indexOf('\0');
    if (end >= 0)
        descriptor.truncate(end);
    const bool identified = versions != notAvailableText();
    ui->lblFirmwareVersion->setText(versions);
    ui->lblFirmwareDate->setText(identified && !descriptor.isEmpty() ? QString::fromUtf8(descriptor)
                                                                     : notAvailableText());
}

QString DravikConfigurationWidget_v2::showFormatted(int id, QLineEdit *edit, const QString &otherwise)
{
    QString text;
    if (!ParameterText::format(id, parameter(id), &text))
        text = otherwise;
    edit->setText(maskAligned(text));
    return text;
}

QString DravikConfigurationWidget_v2::maskAligned(const QString &address)
{
    // The address masks keep three places per part: blanks before the
    // digits read "127.  0.  0.  1" instead of "127.0  .0  .1"; the
    // blanks are no part of the text read back.
    QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return address;
    for (QString &part : parts)
        part = part.rightJustified(3, QLatin1Char(' '));
    return parts.join(QLatin1Char('.'));
}

void DravikConfigurationWidget_v2::showCalibrationFactor()
{
    ui->lblFactor->setText(QString::number(m_calibrationFactor, 'f', 0));
}

void DravikConfigurationWidget_v2::writeCalibrationFactor()
{
    setParameter(DeviceConfigTestVoltageCalibration, ParameterText::littleEndian<double>(m_calibrationFactor));
    showCalibrationFactor();
}

void DravikConfigurationWidget_v2::onAliveTimeoutChanged()
{
    setParameter(SettingsAliveTimeout, int(ui->aliveTimeoutSpinBox->value()));
}

void DravikConfigurationWidget_v2::addCalibrationRow()
{
    DoubleSpinBox *pair[2];
    for (DoubleSpinBox *&spinBox : pair) {
        spinBox = new DoubleSpinBox(0.0, 300.0, 0.0, 0.1, this);
        spinBox->setDecimals(1);
        spinBox->setMinimumWidth(125);
        spinBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }
    m_actualVoltage << pair[0];
    m_nominalVoltage << pair[1];
    ui->layoutActualVoltage->addWidget(pair[0]);
    ui->layoutNominalVoltage->addWidget(pair[1]);
}

void DravikConfigurationWidget_v2::removeCalibrationRow(int row)
{
    delete m_actualVoltage.takeAt(row);
    delete m_nominalVoltage.takeAt(row);
}

double DravikConfigurationWidget_v2::updateTestVoltageCalibration()
{
    double sum = 0.0;
    int contributions = 0;
    for (int row = 0; row < m_actualVoltage.size();) {
        DoubleSpinBox *actual = m_actualVoltage.at(row);
        DoubleSpinBox *nominal = m_nominalVoltage.at(row);
        if (actual->isHidden() || nominal->isHidden()) {
            ++row;
            continue;
        }
        const bool last = row == m_actualVoltage.size() - 1;
        if (actual->value() == 0.0 && nominal->value() == 0.0 && !last) {
            removeCalibrationRow(row);
            continue;
        }
        if (actual->value() != 0.0 && nominal->value() != 0.0) {
            sum += actual->value() / nominal->value();
            ++contributions;
        }
        ++row;
    }
    if (contributions == m_actualVoltage.size() && ui->chkMultipleCalibrationValues->isChecked())
        addCalibrationRow();
    return contributions > 0 ? sum / contributions : 1.0;
}

void DravikConfigurationWidget_v2::adjustTestVoltageCalibration()
{
    const double ratio = updateTestVoltageCalibration();
    m_calibrationFactor /= ratio;
    writeCalibrationFactor();
    for (DoubleSpinBox *actual : qAsConst(m_actualVoltage))
        actual->setValue(actual->value() / ratio);
    ui->widgetCalibrationHint->show();
}

void DravikConfigurationWidget_v2::resetTestVoltageCalibration()
{
    m_calibrationFactor = kDefaultCalibrationFactor;
    writeCalibrationFactor();
    ui->widgetCalibrationHint->show();
    while (!m_actualVoltage.isEmpty())
        removeCalibrationRow(0);
    addCalibrationRow();
}

void DravikConfigurationWidget_v2::onMultipleCalibrationValuesChanged(bool checked)
{
    if (checked) {
        updateTestVoltageCalibration();
        return;
    }
    while (m_actualVoltage.size() > 1)
        removeCalibrationRow(m_actualVoltage.size() - 1);
}

void DravikConfigurationWidget_v2::setDeviceDefaultParameters()
{
    setParameter(DeviceConfigIpAddress, kFactoryAddress);
    setParameter(DeviceConfigIpNetmask, kFactoryNetmask);
    setParameter(DeviceConfigIpGateway, kFactoryGateway);
    setParameter(DeviceConfigIpPort, ParameterText::littleEndian<quint16>(kFactoryPort));
    setParameter(DeviceConfigDeviceType, QVariant());
}

void DravikConfigurationWidget_v2::setUpGatingSpinBoxes()
{
    DoubleSpinBox *threshold = ui->systemGatingThresholdSpinBox;
    threshold->setDecimals(2);
    threshold->setRange(0.01, 0.99);
    threshold->setSingleStep(0.01);
    bool ok = false;
    const double level = parameter(SystemGatingLevel).toDouble(&ok);
    threshold->setValue(ok ? level : kDefaultGatingThreshold);

    DoubleSpinBox *holdTime = ui->systemGatingHoldTimeSpinBox;
    holdTime->setDecimals(0);
    holdTime->setRange(0, 999);
    holdTime->setSingleStep(1);
    const double hold = parameter(SystemGatingHoldTime).toDouble(&ok);
    holdTime->setValue((ok ? hold : kDefaultGatingHoldTime) * 0.001);
}

void DravikConfigurationWidget_v2::setSystemGatingParameters()
{
    const int decimals = ui->systemGatingThresholdSpinBox->decimals();
    const double threshold = roundTo(ui->systemGatingThresholdSpinBox->value(), decimals);
    // The spin box cannot show the default's four digits: whatever shows as
    // the default is written as the default itself, as the detector stores it.
    if (fuzzyEqual(threshold, roundTo(kDefaultGatingThreshold, decimals)))
        setParameter(SystemGatingLevel, double(float(kDefaultGatingThreshold)));
    else
        setParameter(SystemGatingLevel, threshold);
    setParameter(SystemGatingHoldTime, ui->systemGatingHoldTimeSpinBox->value() * 1000.0);
}

void DravikConfigurationWidget_v2::setSystemGatingDefaultValues()
{
    ui->systemGatingHoldTimeSpinBox->setValue(kDefaultGatingHoldTime * 0.001);
    ui->systemGatingThresholdSpinBox->setValue(kDefaultGatingThreshold);
    setSystemGatingParameters();
}

void DravikConfigurationWidget_v2::on_btnUpdateFirmware_clicked()
{
    if (m_firmwareFileName.isEmpty())
        return;
    QFile file(m_firmwareFileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    Q_EMIT firmwareUpdate(file.readAll(), quint8(ui->comboUpdateMode->currentData().toUInt()));
}

void DravikConfigurationWidget_v2::on_btnApplyConnectionParameters_clicked()
{
    setParameter(SettingsConnection, ui->edtConnectionIpAddress->text() + QLatin1Char(':') + ui->edtConnectionPort->text());
}

void DravikConfigurationWidget_v2::on_btnApplyDeviceParameters_clicked()
{
    // A field whose text gives no value of its form is left as the detector has it.
    const QList<QPair<int, QLineEdit *>> fields = {
        {DeviceConfigIpAddress, ui->edtIpAddress}, {DeviceConfigIpNetmask, ui->edtNetmask},
        {DeviceConfigIpGateway, ui->edtGateway},   {DeviceConfigIpPort, ui->edtPortAddress},
        {DeviceConfigSerialNumber, ui->edtSerialNumber}, {DeviceConfigMacAddress, ui->edtMacAddress}};
    for (const auto &field : fields) {
        QVariant value;
        if (ParameterText::parse(field.first, field.second->text(), &value))
            setParameter(field.first, value);
    }
    // No type chosen is no type to write: 0 would tell the detector "Unknown".
    if (ui->deviceTypeCombo->currentIndex() >= 0)
        setParameter(DeviceConfigDeviceType, ui->deviceTypeCombo->currentData().toInt());
}

void DravikConfigurationWidget_v2::on_btnFileDialogue_clicked()
{
    setFirmwareFileName(QFileDialog::getOpenFileName(this, tr("Select firmware file"), QString(),
                                                     tr("Firmware (*.dravikfw)")));
}
