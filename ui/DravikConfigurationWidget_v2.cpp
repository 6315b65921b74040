#include "DravikConfigurationWidget_v2.h"

#include "DoubleSpinBox.h"
#include "ui_DravikConfigurationWidget_v2.h"

#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QtEndian>

#include <cmath>
#include <cstring>

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

template<typename T>
QByteArray littleEndian(T value)
{
    QByteArray bytes(int(sizeof(T)), Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

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
    const QStringList parts = text.split(separator, Qt::SkipEmptyParts);
    QByteArray bytes;
    for (const QString &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, base);
        if (!ok || value >= 256) {
            qDebug() << "[DRAVIK.GUI]" << Q_FUNC_INFO << "failed" << "parts" << parts << "current" << part;
            return QByteArray();
        }
        bytes.append(char(value));
    }
    qDebug() << "[DRAVIK.GUI]" << Q_FUNC_INFO << "success" << bytes.size() << bytes.toHex(' ');
    return bytes;
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
            ui->edtConnectionIpAddress->setText(parts.at(0));
        if (parts.size() > 1)
            ui->edtConnectionPort->setText(parts.at(1));
        break;
    }
    case SettingsAliveTimeout:
        ui->aliveTimeoutSpinBox->setValue(value.toInt());
        break;
    case DeviceDescriptor: {
        QByteArray text = bytes;
        // The descriptor is a fixed-size field padded with zeros.
        const int end = text.indexOf('\0');
        if (end >= 0)
            text.truncate(end);
        ui->lblFirmwareDate->setText(QString::fromUtf8(text));
        break;
    }
    case SoftwareVersion:
    case HardwareVersion:
    case FirmwareVersion:
        // Until the detector has identified itself there is nothing to show.
        if (!parameter(HardwareVersion).isValid() || !parameter(FirmwareVersion).isValid()
            || !parameter(SoftwareVersion).isValid())
            break;
        ui->lblFirmwareVersion->setText(QStringLiteral("hw %1; fw %2; sw %3")
                                            .arg(parameter(HardwareVersion).toULongLong())
                                            .arg(parameter(FirmwareVersion).toULongLong())
                                            .arg(parameter(SoftwareVersion).toULongLong()));
        break;
    case DeviceConfigSerialNumber:
        ui->edtSerialNumber->setText(bytes.size() == 8 ? QString::number(qFromLittleEndian<quint64>(bytes.constData()))
                                                       : tr("undefined"));
        break;
    case DeviceConfigMacAddress: {
        if (bytes.size() == 6) {
            QStringList parts;
            for (char byte : bytes)
                parts << QString::asprintf("%.2X", uint(quint8(byte)));
            ui->edtMacAddress->setText(parts.join(QLatin1Char(':')));
        } else {
            ui->edtMacAddress->setText(QStringLiteral("xx:xx:xx:xx:xx:xx"));
        }
        break;
    }
    case DeviceConfigIpAddress:
        showAddress(id, ui->edtIpAddress);
        if (m_serviceAccess)
            Q_EMIT notification(StatusInformation, QStringLiteral("Device IP address is %1.").arg(ui->edtIpAddress->text()), -1);
        break;
    case DeviceConfigIpPort:
        ui->edtPortAddress->setText(bytes.size() == 2 ? QString::number(qFromLittleEndian<quint16>(bytes.constData()))
                                                      : tr("undefined"));
        if (m_serviceAccess)
            Q_EMIT notification(StatusInformation, QStringLiteral("Device IP port is %1.").arg(ui->edtPortAddress->text()), -1);
        break;
    case DeviceConfigIpNetmask:
        showAddress(id, ui->edtNetmask);
        break;
    case DeviceConfigIpGateway:
        showAddress(id, ui->edtGateway);
        break;
    case DeviceConfigTestVoltageCalibration:
        if (bytes.size() == 8) {
            m_calibrationFactor = qFromLittleEndian<double>(bytes.constData());
            showCalibrationFactor();
        }
        break;
    case DeviceConfigDeviceType:
        ui->deviceTypeCombo->setCurrentIndex(value.isValid() ? ui->deviceTypeCombo->findData(value) : -1);
        break;
    default:
        break;
    }
}

void DravikConfigurationWidget_v2::showAddress(int id, QLineEdit *edit)
{
    const QByteArray bytes = parameter(id).toByteArray();
    if (bytes.size() != 4) {
        edit->setText(QStringLiteral("x.x.x.x"));
        return;
    }
    QStringList parts;
    for (char byte : bytes)
        parts << QString::number(quint8(byte));
    edit->setText(parts.join(QLatin1Char('.')));
}

void DravikConfigurationWidget_v2::showCalibrationFactor()
{
    ui->lblFactor->setText(QString::number(m_calibrationFactor, 'f', 0));
}

void DravikConfigurationWidget_v2::writeCalibrationFactor()
{
    setParameter(DeviceConfigTestVoltageCalibration, littleEndian<double>(m_calibrationFactor));
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
    setParameter(DeviceConfigIpPort, littleEndian<quint16>(kFactoryPort));
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
    const QString dot = QStringLiteral(".");
    const QList<QPair<int, QLineEdit *>> addresses = {{DeviceConfigIpAddress, ui->edtIpAddress},
                                                      {DeviceConfigIpNetmask, ui->edtNetmask},
                                                      {DeviceConfigIpGateway, ui->edtGateway}};
    for (const auto &address : addresses) {
        const QByteArray bytes = addressValue(address.second->text(), dot, 10);
        if (bytes.size() == 4)
            setParameter(address.first, bytes);
    }
    bool ok = false;
    const quint16 port = ui->edtPortAddress->text().toUShort(&ok);
    if (ok)
        setParameter(DeviceConfigIpPort, littleEndian<quint16>(port));
    const quint64 serial = ui->edtSerialNumber->text().toULongLong(&ok);
    if (ok)
        setParameter(DeviceConfigSerialNumber, littleEndian<quint64>(serial));
    const QByteArray mac = addressValue(ui->edtMacAddress->text(), QStringLiteral(":"), 16);
    if (mac.size() == 6)
        setParameter(DeviceConfigMacAddress, mac);
    setParameter(DeviceConfigDeviceType, ui->deviceTypeCombo->currentData().toInt());
}

void DravikConfigurationWidget_v2::on_btnFileDialogue_clicked()
{
    setFirmwareFileName(QFileDialog::getOpenFileName(this, tr("Select firmware file"), QString(),
                                                     tr("Firmware (*.dravikfw)")));
}
