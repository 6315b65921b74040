#include "HostQuery.h"

#include "OperationModeNames.h"

HostQuery::HostQuery(int measurementMode, unsigned maximumShots)
    : m_measurementMode(measurementMode)
    , m_maximumShots(maximumShots)
{
}

void HostQuery::set(int key, const QVariant &value, int phase, int channel)
{
    if (value.isValid())
        m_values.insert({key, phase, channel}, value);
    else
        m_values.remove({key, phase, channel});
}

bool HostQuery::query(int key, QVariant &value, int phase, int channel) const
{
    value = m_values.value({key, phase, channel});
    return value.isValid();
}

QVariantMap HostQuery::describe() const
{
    QVariantMap map;
    map.insert(QStringLiteral("measurement_mode"), m_measurementMode);
    map.insert(QStringLiteral("maximum_shots"), qulonglong(m_maximumShots));
    for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it) {
        switch (it.key().key) {
        case KeyOperationMode:
            map.insert(QStringLiteral("operation_mode"), it.value());
            map.insert(QStringLiteral("operation_mode_name"), OperationModeNames::longName(it.value().toInt()));
            break;
        case KeyNominalCharge:
            map.insert(QStringLiteral("nominal_charge_c"), it.value());
            break;
        case KeyHvSourceType:
            map.insert(QStringLiteral("hv_source_type"), it.value());
            break;
        case KeyChargeToVoltageFactor:
            map.insert(QStringLiteral("charge_to_voltage_factor_v_per_c"), it.value());
            break;
        case KeyChargeCalibrationFactor:
            map.insert(QStringLiteral("charge_calibration_factor"), it.value());
            break;
        default:
            map.insert(QStringLiteral("key_%1").arg(it.key().key), it.value());
            break;
        }
    }
    return map;
}
