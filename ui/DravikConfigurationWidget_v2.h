#pragma once

#include "DravikBaseWidget_v2.h"
#include "StatusType.h"

#include <QByteArray>
#include <QList>
#include <QScopedPointer>

class DoubleSpinBox;

namespace Ui {
class DravikConfigurationWidget_v2;
}

// The detector's setup page: connection, test-voltage calibration, system
// gating thresholds, firmware update and, for service and production use,
// the detector's own network configuration and device type.
class DravikConfigurationWidget_v2 : public DravikBaseWidget_v2
{
    Q_OBJECT

public:
    static constexpr double kDefaultCalibrationFactor = 2640.0;
    static constexpr double kDefaultGatingThreshold = 0.1585;
    static constexpr double kDefaultGatingHoldTime = 20000.0;

    DravikConfigurationWidget_v2(bool serviceAccess, bool productionAccess,
                                 QSharedPointer<ParameterHandler> userContainer,
                                 QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent = nullptr);
    ~DravikConfigurationWidget_v2() override;

    // The parts of the text between separators as bytes in the base; empty
    // when a part does not convert or does not fit a byte.
    static QByteArray addressValue(const QString &text, const QString &separator, int base);

    double calibrationFactor() const { return m_calibrationFactor; }
    QString firmwareFileName() const { return m_firmwareFileName; }
    void setFirmwareFileName(const QString &fileName);
    // The calibration spin boxes, row by row.
    QList<DoubleSpinBox *> actualVoltageSpinBoxes() const { return m_actualVoltage; }
    QList<DoubleSpinBox *> nominalVoltageSpinBoxes() const { return m_nominalVoltage; }

Q_SIGNALS:
    void firmwareUpdate(QByteArray bitstream, quint8 mode);
    void notification(StatusType statusCode, QString message, int token = -1);

public Q_SLOTS:
    void onDeviceConnected() override;
    void onDeviceDisconnected(int status) override;
    void firmwareUpdateStatus(qint32 state, double progress, QString description);
    void onAliveTimeoutChanged();
    void adjustTestVoltageCalibration();
    void resetTestVoltageCalibration();
    double updateTestVoltageCalibration();
    void onMultipleCalibrationValuesChanged(bool checked);
    void setDeviceDefaultParameters();
    void setSystemGatingParameters();
    void setSystemGatingDefaultValues();
    void on_btnUpdateFirmware_clicked();
    void on_btnApplyConnectionParameters_clicked();
    void on_btnApplyDeviceParameters_clicked();
    void on_btnFileDialogue_clicked();

private:
    void refresh(int id) override;
    // Shows the parameter's value as its text, or otherwise when it has none;
    // returns the text shown.
    QString showFormatted(int id, class QLineEdit *edit, const QString &otherwise);
    void showFirmware();
    static QString maskAligned(const QString &address);
    void showCalibrationFactor();
    void writeCalibrationFactor();
    void addCalibrationRow();
    void removeCalibrationRow(int row);
    void setUpGatingSpinBoxes();

    QScopedPointer<Ui::DravikConfigurationWidget_v2> ui;
    QString m_firmwareFileName;
    const bool m_serviceAccess;
    const bool m_productionAccess;
    double m_calibrationFactor = kDefaultCalibrationFactor;
    QList<DoubleSpinBox *> m_actualVoltage;
    QList<DoubleSpinBox *> m_nominalVoltage;
};
