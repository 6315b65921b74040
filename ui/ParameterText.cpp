#include "ParameterText.h"

#include "PdQlp_v2.h"

#include <QDebug>
#include <QStringList>

namespace {
enum ParameterId {
    ChannelStateMuxer = 1011,
    ChannelStateCharge2 = 1015,
    DeviceConfigSerialNumber = 1116,
    DeviceConfigMacAddress = 1117,
    DeviceConfigIpAddress = 1118,
    DeviceConfigIpPort = 1119,
    DeviceConfigIpNetmask = 1120,
    DeviceConfigIpGateway = 1121,
    DeviceConfigTestVoltageCalibration = 1123
};

// How the detector lays out each of its byte-valued parameters.
enum class Form { None, Address, Mac, Port, Serial, Calibration, ChannelState };

Form formOf(int id)
{
    switch (id) {
    case DeviceConfigIpAddress:
    case DeviceConfigIpNetmask:
    case DeviceConfigIpGateway:
        return Form::Address;
    case DeviceConfigMacAddress:
        return Form::Mac;
    case DeviceConfigIpPort:
        return Form::Port;
    case DeviceConfigSerialNumber:
        return Form::Serial;
    case DeviceConfigTestVoltageCalibration:
        return Form::Calibration;
    default:
        return id >= ChannelStateMuxer && id <= ChannelStateCharge2 ? Form::ChannelState : Form::None;
    }
}

// The bytes as numbers in the base, joined by the separator.
QString joined(const QByteArray &bytes, int base, QLatin1Char separator)
{
    QStringList parts;
    for (char byte : bytes)
        parts << (base == 16 ? QString::asprintf("%.2X", uint(quint8(byte))) : QString::number(quint8(byte)));
    return parts.join(separator);
}
} // namespace

bool ParameterText::format(int id, const QVariant &value, QString *text)
{
    const Form form = formOf(id);
    if (form == Form::ChannelState) {
        const int state = channelState(value);
        if (state < 0)
            return false;
        *text = QStringLiteral("0x") + QString::number(state, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        return true;
    }
    if (form == Form::None || value.userType() != QMetaType::QByteArray)
        return false;
    const QByteArray bytes = value.toByteArray();
    switch (form) {
    case Form::Address:
        if (bytes.size() != 4)
            return false;
        *text = joined(bytes, 10, QLatin1Char('.'));
        return true;
    case Form::Mac:
        if (bytes.size() != 6)
            return false;
        *text = joined(bytes, 16, QLatin1Char(':'));
        return true;
    case Form::Port:
        if (bytes.size() != 2)
            return false;
        *text = QString::number(qFromLittleEndian<quint16>(bytes.constData()));
        return true;
    case Form::Serial:
        if (bytes.size() != 8)
            return false;
        *text = QString::number(qFromLittleEndian<quint64>(bytes.constData()));
        return true;
    case Form::Calibration:
        if (bytes.size() != 8)
            return false;
        *text = QString::number(qFromLittleEndian<double>(bytes.constData()), 'g', 12);
        return true;
    default:
        return false;
    }
}

bool ParameterText::parse(int id, const QString &text, QVariant *value)
{
    bool ok = false;
    QByteArray bytes;
    switch (formOf(id)) {
    case Form::Address:
        bytes = addressValue(text, QStringLiteral("."), 10);
        ok = bytes.size() == 4;
        break;
    case Form::Mac:
        bytes = addressValue(text, QStringLiteral(":"), 16);
        ok = bytes.size() == 6;
        break;
    case Form::Port:
        bytes = littleEndian<quint16>(text.trimmed().toUShort(&ok));
        break;
    case Form::Serial:
        bytes = littleEndian<quint64>(text.trimmed().toULongLong(&ok));
        break;
    case Form::Calibration:
        bytes = littleEndian<double>(text.trimmed().toDouble(&ok));
        break;
    default:
        // Channel states are the detector's report, nothing to write.
        break;
    }
    if (ok)
        *value = bytes;
    return ok;
}

QByteArray ParameterText::addressValue(const QString &text, const QString &separator, int base)
{
    const QStringList parts = text.split(separator, Qt::SkipEmptyParts);
    QByteArray bytes;
    for (const QString &part : parts) {
        bool ok = false;
        // An input mask pads the parts with blanks.
        const uint value = part.trimmed().toUInt(&ok, base);
        if (!ok || value >= 256) {
            qDebug() << "[DRAVIK.GUI]" << Q_FUNC_INFO << "failed" << "parts" << parts << "current" << part;
            return QByteArray();
        }
        bytes.append(char(value));
    }
    qDebug() << "[DRAVIK.GUI]" << Q_FUNC_INFO << "success" << bytes.size() << bytes.toHex(' ');
    return bytes;
}

int ParameterText::channelState(const QVariant &value)
{
    // The link reports the byte in its own type, which converts to nothing.
    if (value.userType() == qMetaTypeId<st_ChannelMeasState>())
        return value.value<st_ChannelMeasState>().value;
    bool ok = false;
    const uint state = value.toUInt(&ok);
    return ok && state <= 0xFF ? int(state) : -1;
}
