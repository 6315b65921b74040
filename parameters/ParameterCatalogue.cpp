#include "ParameterCatalogue.h"

#include "ParameterHandler.h"

#include <QHash>
#include <QMetaType>

namespace {

// One catalogue row. The kind decides where the row goes: group headers into
// no container, detector parameters into the device container, everything else
// into the user container. Rows marked direct are the few the host lists in
// parameterIds(); all others stay internal.
struct Row
{
    int id;
    const char *enumerator; // nullptr: the id logs as "(id)" alone
    const char *name;       // display name, exactly as the host shows it
    int kind;
    bool direct = false;
};

constexpr int Group = ParameterCatalogue::KindGroup;
constexpr int Device = ParameterCatalogue::KindDeviceParameter;
constexpr int Generic = ParameterCatalogue::KindGeneric;
constexpr bool Direct = true;

// Plug-in user parameters and settings, in registration order. The settings
// group sits between 2007 and 2010 and the HV source profile after 2010, not
// by id: the host lists parameters in the order they were registered.
const Row userRows[] = {
    {2009, nullptr, "Serial number", ParameterCatalogue::KindSerialNumber, Direct},
    {2000, "UserCharge", "Charge", ParameterCatalogue::KindCharge, Direct},
    {2001, "UserOperationMode", "Operation mode", Generic},
    {2002, "UserMeasurementMode", "Measurement mode", Generic},
    {2003, "NominalCharge", "Nominal charge", Generic},
    {2004, "UserEnableGainCompensation", "Enable gain compensation", Generic},
    {2005, nullptr, "Charge to voltage factor", ParameterCatalogue::KindChargeToVoltageFactor, Direct},
    {2006, nullptr, "Calibration factor", Generic},
    {2007, nullptr, "Trigger level by charge", Generic},

    {1170, "Settings", "Settings", Group},
    {1171, "SettingsConnection", "Connection config", Generic},
    {1172, "SettingsAliveTimeout", "Alive timeout", Generic},
    {1173, "SettingsDigitalChannel0HoldTime", "Hold time digital channel 0", Generic},
    {1174, nullptr, "Level of system gating channel", Generic},
    {1175, nullptr, "Hold time of system gating channel", Generic},
    {1176, "SettingsServiceMode", "Service mode", Generic},
    {1177, "SettingsLogFile", "Log file name", Generic},

    {2010, "ExpertMode", "ExpertMode", Generic},
    {1178, "HvSourceType", "HvSourceProfile", Generic},
    {2008, nullptr, "relative trigger level", Generic},
    {2011, nullptr, "maximum shots of muxer data while in vlf sin mode", Generic},
};

// Detector parameters with their group headers, in registration order: each
// header right before its members. Where the ids are out of order below, that
// is the order the host shows them in.
const Row deviceRows[] = {
    {1000, "DeviceParameter", "Device parameters", Group},
    {1001, "DeviceCodeNumber", "Product number", Device},
    {1002, "DeviceSerial", "Serial number", Device},
    {1003, "DeviceDescriptor", "Descriptor", Device},
    {1004, "DeviceType", "Device type", Device},
    {1005, "DeviceSubType", "Device subtype", Device},
    {1006, "DeviceSoftwareVersion", "Software version", Device},
    {1007, "DeviceHardwareVersion", "Hardware version", Device},
    {1008, "DeviceFirmwareVersion", "Firmware version", Device},
    {1009, "DeviceProtocolVersion", "Protocol version", Device},
    {1010, "MeasurementState", "Measurement state", Device},
    {1011, "ChannelStateMuxer", "Channel state muxer", Device},
    {1012, "ChannelStateTestVoltage", "Channel state test voltage", Device},
    {1013, "ChannelStateCharge0", "Channel state charge 0", Device},
    {1014, "ChannelStateCharge1", "Channel state charge 1", Device},
    {1015, "ChannelStateCharge2", "Channel state charge 2", Device},

    // Ids run channel by channel (muxer, TV, charge 0..2; five values each),
    // but the values are shown value by value, the TV and charge channels
    // before the muxer.
    {1016, "TriggerGlobal", "Global trigger", Group},
    {1022, "TestVoltageSamplePeriod", "TV channel sample period", Device},
    {1027, "Charge0SamplePeriod", "Charge channel 0 sample period", Device},
    {1032, "Charge1SamplePeriod", "Charge channel 1 sample period", Device},
    {1037, "Charge2SamplePeriod", "Charge channel 2 sample period", Device},
    {1017, "MuxerSamplePeriod", "Muxer channel sample period", Device},
    {1025, "TestVoltagePretriggerPeriod", "TV channel pre trigger period", Device},
    {1030, "Charge0PretriggerPeriod", "Charge channel 0 pre trigger period", Device},
    {1035, "Charge1PretriggerPeriod", "Charge channel 1 pre trigger period", Device},
    {1040, "Charge2PretriggerPeriod", "Charge channel 2 pre trigger period", Device},
    {1020, "MuxerPretriggerPeriod", "Muxer channel pre trigger period", Device},
    {1024, "TestVoltagePeriods", "TV channel periods", Device},
    {1029, "Charge0Periods", "Charge channel 0 periods", Device},
    {1034, "Charge1Periods", "Charge channel 1 periods", Device},
    {1039, "Charge2Periods", "Charge channel 2 periods", Device},
    {1019, "MuxerPeriods", "Muxer channel periods", Device},
    {1023, "TestVoltageFramePeriod", "TV channel frame period", Device},
    {1028, "Charge0FramePeriod", "Charge channel 0 frame period", Device},
    {1033, "Charge1FramePeriod", "Charge channel 1 frame period", Device},
    {1038, "Charge2FramePeriod", "Charge channel 2 frame period", Device},
    {1018, "MuxerFramePeriod", "Muxer channel frame period", Device},
    {1026, "TestVoltageTimeoutPeriod", "TV channel timeout period", Device},
    {1031, "Charge0TimeoutPeriod", "Charge channel 0 timeout period", Device},
    {1036, "Charge1TimeoutPeriod", "Charge channel 1 timeout period", Device},
    {1041, "Charge2TimeoutPeriod", "Charge channel 2 timeout period", Device},
    {1021, "MuxerTimeoutPeriod", "Muxer channel timeout period", Device},

    {1042, "Trigger0", "Trigger 0", Group},
    {1043, "Trigger0Source", "Trigger 0 source", Device},
    {1044, "Trigger0Level", "Trigger 0 level", Device},
    {1045, "Trigger0Holdtime", "Trigger 0 holdtime", Device},
    {1046, "Trigger0Values", "Trigger 0 values", Device},
    {1047, "Trigger1", "Trigger 1", Group},
    {1048, "Trigger1Source", "Trigger 1 source", Device},
    {1049, "Trigger1Level", "Trigger 1 level", Device},
    {1050, "Trigger1Holdtime", "Trigger 1 holdtime", Device},
    {1051, "Trigger1Values", "Trigger 1 values", Device},

    // The bandpass member comes first in each filter group although its id is last.
    {1052, "FilterAdc0", "Filter ADC 0", Group},
    {1057, "FilterAdc0Bandpass", "Filter ADC 0 bandpass", Device},
    {1053, "FilterAdc0Lowpass0", "Filter ADC 0 lowpass 0", Device},
    {1054, "FilterAdc0Lowpass1", "Filter ADC 0 lowpass 1", Device},
    {1055, "FilterAdc0Highpass0", "Filter ADC 0 highpass 0", Device},
    {1056, "FilterAdc0Highpass1", "Filter ADC 0 highpass 1", Device},
    {1058, "FilterAdc1", "Filter ADC 1", Group},
    {1063, "FilterAdc1Bandpass", "Filter ADC 1 bandpass", Device},
    {1059, "FilterAdc1Lowpass0", "Filter ADC 1 lowpass 0", Device},
    {1060, "FilterAdc1Lowpass1", "Filter ADC 1 lowpass 1", Device},
    {1061, "FilterAdc1Highpass0", "Filter ADC 1 highpass 0", Device},
    {1062, "FilterAdc1Highpass1", "Filter ADC 1 highpass 1", Device},
    {1064, "FilterAdc2", "Filter ADC 2", Group},
    {1069, "FilterAdc2Bandpass", "Filter ADC 2 bandpass", Device},
    {1065, "FilterAdc2Lowpass0", "Filter ADC 2 lowpass 0", Device},
    {1066, "FilterAdc2Lowpass1", "Filter ADC 2 lowpass 1", Device},
    {1067, "FilterAdc2Highpass0", "Filter ADC 2 highpass 0", Device},
    {1068, "FilterAdc2Highpass1", "Filter ADC 2 highpass 1", Device},

    {1070, "GainSystemGating", "Gain System Gating (SG)", Group},
    {1071, "GainSystemGatingLevels", "Gain SG levels", Device},
    {1072, "GainSystemGatingValue", "Gain SG value", Device},
    {1073, "GainUserGating", "Gain User Gating (UG)", Group},
    {1074, "GainUserGatingLevels", "Gain UG levels", Device},
    {1075, "GainUserGatingValue", "Gain UG value", Device},
    {1076, "GainTestVoltage", "Gain Test Voltage (TV)", Group},
    {1077, "GainTestVoltageLevels", "Gain TV levels", Device},
    {1078, "GainTestVoltageValue", "Gain TV value", Device},
    {1079, "GainPd", "Gain Partial discharge (PD)", Group},
    {1080, "GainPdLevels", "Gain PD levels", Device},
    {1081, "GainPdValue", "Gain PD value", Device},
    {1082, "GainPdBandwidth", "Gain PD Bandwidth", Group},
    {1083, "GainPdBandwidthLevels", "Gain PD Bandwidth levels", Device},
    {1084, "GainPdBandwidthValue", "Gain PD Bandwidth value", Device},
    {1085, "GainPdRemotePower", "Gain PD Remote Power (RP)", Group},
    {1086, "GainPdRemotePowerLevels", "Gain RP levels", Device},
    {1087, "GainPdRemotePowerValue", "Gain RP value", Device},
    {1088, "GainClockSource", "Gain Clock Source (CS)", Group},
    {1089, "GainClockSourceLevels", "Clock Source levels", Device},
    {1090, "GainClockSourceValue", "clock Source value", Device},
    {1091, "GainSystemGatingBandwidth", "Gain System Gating Bandwidth", Group},
    {1092, "GainSystemGatingBandwidthLevels", "Gain System Gating Bandwidth levels", Device},
    {1093, "GainSystemGatingBandwidthValue", "Gain System Gating Bandwidth value", Device},
    {1094, "GainUserGatingBandwidth", "Gain User Gating Bandwidth", Group},
    {1095, "GainUserGatingBandwidthLevels", "Gain User Gating Bandwidth levels", Device},
    {1096, "GainUserGatingBandwidthValue", "Gain User Gating Bandwidth value", Device},

    {1097, "Gating", "Gating", Group},
    {1098, "GatingSystemActivation", "System gating activation", Device},
    {1099, "GatingSystemLevel", "System gating level", Device},
    {1100, "GatingSystemHoldtime", "System gating holdtime", Device},
    {1101, "GatingUserActivation", "User gating activation", Device},
    {1102, "GatingUserLevel", "User gating level", Device},
    {1103, "GatingUserHoldtime", "User gating holdtime", Device},
    {1104, "GatingDigital0Activation", "Digital gating 0 activation", Device},
    {1105, "GatingDigital1Activation", "Digital gating 1 activation", Device},
    {1106, "GatingAdcOverflow0Activation", "ADC 0 gating activation", Device},
    {1107, "GatingAdcOverflow1Activation", "ADC 1 gating activation", Device},
    {1108, "GatingAdcOverflow2Activation", "ADC 2 gating activation", Device},
    {1109, "GatingAdcOverflow3Activation", "ADC 3 gating activation", Device},

    {1110, "Muxer", "Muxer", Group},
    {1111, "MuxerChannel0", "Muxer channel 0", Device},
    {1112, "MuxerChannel1", "Muxer channel 1", Device},
    {1113, "MuxerDualChannelEnable", "Muxer enable dual channel mode", Device},
    {1114, "MuxerGatingEnable", "Muxer enable gating info", Device},

    {1115, "DeviceConfig", "Device Config", Group},
    {1116, "DeviceConfigSerialNumber", "Serial number", Device},
    {1117, "DeviceConfigMacAddress", "MAC address", Device},
    {1118, "DeviceConfigIpAddress", "IP address", Device},
    {1119, "DeviceConfigIpPort", "IP port", Device},
    {1120, "DeviceConfigIpNetmask", "IP netmask", Device},
    {1121, "DeviceConfigIpGateway", "IP gateway", Device},
    {1122, "DeviceConfigInfoString", "Info string", Device},
    {1123, "DeviceConfigTestVoltageCalibration", "Test voltage calibration", Device},
    {1124, "DeviceConfigDeviceType", "Device type", Device},

    {1125, "Adcs", "ADC Configuration", Group},
    {1126, "Adc0Invert", "ADC0 invertion", Device},
    {1127, "Adc1Invert", "ADC1 invertion", Device},
    {1128, "Adc2Invert", "ADC2 invertion", Device},
    {1129, "Adc3Invert", "ADC3 invertion", Device},

    {1130, "DigitalChannel0", "Channel digital gating 0", Group},
    {1131, "DigitalChannel0Invertion", "Invertion", Device},
    {1132, "DigitalChannel0PositiveEdge", "pos. edge", Device},
    {1133, "DigitalChannel0NegativeEdge", "neg. edge", Device},
    {1134, "DigitalChannel0HoldTime", "Hold time", Device},

    {1135, "DigitalChannel1", "Channel digital gating 1", Group},
    {1136, "DigitalChannel1Invertion", "Invertion", Device},
    {1137, "DigitalChannel1PositiveEdge", "pos. edge", Device},
    {1138, "DigitalChannel1NegativeEdge", "neg. edge", Device},
    {1139, "DigitalChannel1HoldTime", "Hold time", Device},

    {1140, "DigitalChannel2", "Channel external trigger 0", Group},
    {1141, "DigitalChannel2Invertion", "Invertion", Device},
    {1142, "DigitalChannel2PositiveEdge", "pos. edge", Device},
    {1143, "DigitalChannel2NegativeEdge", "neg. edge", Device},
    {1144, "DigitalChannel2HoldTime", "Hold time", Device},

    {1145, "DigitalChannel3", "Channel external trigger 1", Group},
    {1146, "DigitalChannel3Invertion", "Invertion", Device},
    {1147, "DigitalChannel3PositiveEdge", "pos. edge", Device},
    {1148, "DigitalChannel3NegativeEdge", "neg. edge", Device},
    {1149, "DigitalChannel3HoldTime", "Hold time", Device},

    {1150, "DigitalChannel4", "Channel software trigger", Group},
    {1151, "DigitalChannel4Invertion", "Invertion", Device},
    {1152, "DigitalChannel4PositiveEdge", "pos. edge", Device},
    {1153, "DigitalChannel4NegativeEdge", "neg. edge", Device},
    {1154, "DigitalChannel4HoldTime", "Hold time", Device},

    {1155, "DigitalChannel5", "Channel reserved 5", Group},
    {1156, "DigitalChannel5Invertion", "Invertion", Device},
    {1157, "DigitalChannel5PositiveEdge", "pos. edge", Device},
    {1158, "DigitalChannel5NegativeEdge", "neg. edge", Device},
    {1159, "DigitalChannel5HoldTime", "Hold time", Device},

    {1160, "DigitalChannel6", "Channel reserved 6", Group},
    {1161, "DigitalChannel6Invertion", "Invertion", Device},
    {1162, "DigitalChannel6PositiveEdge", "pos. edge", Device},
    {1163, "DigitalChannel6NegativeEdge", "neg. edge", Device},
    {1164, "DigitalChannel6HoldTime", "Hold time", Device},

    {1165, "DigitalChannel7", "Channel reserved 7", Group},
    {1166, "DigitalChannel7Invertion", "Invertion", Device},
    {1167, "DigitalChannel7PositiveEdge", "pos. edge", Device},
    {1168, "DigitalChannel7NegativeEdge", "neg. edge", Device},
    {1169, "DigitalChannel7HoldTime", "Hold time", Device},

    // The fan members share one enumerator; their display names tell them apart.
    {1179, "FanControl", "Fan control", Group},
    {1180, "FanControlMinTemperature", "Min temperature", Device},
    {1181, "FanControlMinTemperature", "Max temperature", Device},
    {1182, "FanControlMinTemperature", "Min duty cycle", Device},
    {1183, "FanControlMinTemperature", "Max dtuy cycle", Device},
    {1184, "FanControlMinTemperature", "Omega", Device},

    {1185, "ParameterStatistics", "Statistics", Group},
    {1186, "StatisticsMin", "Min value", Device},
    {1187, "StatisticsMax", "Max value", Device},
    {1188, "StatisticsMean", "Mean value", Device},
    {1189, "StatisticsRms", "RMS value", Device},
};

ParameterInfo makeInfo(int id, const QString &name, int kind, bool internal)
{
    ParameterInfo info;
    info.id = id;
    info.name = name;
    info.kind = kind;
    info.channelId = -1;
    info.phaseId = -1;
    info.numberField = 0;
    info.valueType = QMetaType::Double;
    info.flagA = false;
    info.flagB = false;
    info.internal = internal;
    return info;
}

} // namespace

QList<QPair<int, QVariant>> ParameterCatalogue::userDefaults()
{
    return {
        {2004, true},
        {1171, QStringLiteral("192.168.220.100:52922")},
        {1172, 5000},
        {1176, false},
        {2010, false},
        {2008, 50},
    };
}

QString ParameterCatalogue::logName(int id)
{
    // Built once; log lines ask for names all the time (the polled ids every 500 ms).
    static const QHash<int, QString> names = [] {
        QHash<int, QString> table;
        for (const Row &row : userRows) {
            if (row.enumerator)
                table.insert(row.id, QLatin1String(row.enumerator));
        }
        for (const Row &row : deviceRows) {
            if (row.enumerator)
                table.insert(row.id, QLatin1String(row.enumerator));
        }
        return table;
    }();
    return QStringLiteral("(%1)").arg(id) + names.value(id);
}

bool ParameterCatalogue::registerGroup(const RegisterFunction &sink, int id, const QString &name)
{
    return sink(makeInfo(id, name, KindGroup, true));
}

bool ParameterCatalogue::registerDeviceParameter(const RegisterFunction &sink, ParameterHandler *deviceContainer,
                                                 int id, const QString &name)
{
    if (!sink(makeInfo(id, name, KindDeviceParameter, true)))
        return false;
    // No value until the detector reports one.
    if (deviceContainer)
        deviceContainer->add(id, QVariant());
    return true;
}

bool ParameterCatalogue::registerUserParameter(const RegisterFunction &sink, ParameterHandler *userContainer,
                                               int id, const QString &name, int kind)
{
    return registerInUserContainer(sink, userContainer, makeInfo(id, name, kind, true));
}

bool ParameterCatalogue::registerInUserContainer(const RegisterFunction &sink, ParameterHandler *userContainer,
                                                 const ParameterInfo &info)
{
    if (!sink(info))
        return false;
    // Invalid until the device confirms a default or the host applies its settings.
    if (userContainer)
        userContainer->add(info.id, QVariant());
    return true;
}

void ParameterCatalogue::registerUserParameters(const RegisterFunction &sink, ParameterHandler *userContainer)
{
    for (const Row &row : userRows) {
        const QString name = QLatin1String(row.name);
        if (row.kind == KindGroup)
            registerGroup(sink, row.id, name);
        else if (row.direct)
            registerInUserContainer(sink, userContainer, makeInfo(row.id, name, row.kind, false));
        else
            registerUserParameter(sink, userContainer, row.id, name, row.kind);
    }
}

void ParameterCatalogue::registerDeviceParameters(const RegisterFunction &sink, ParameterHandler *deviceContainer)
{
    for (const Row &row : deviceRows) {
        const QString name = QLatin1String(row.name);
        if (row.kind == KindGroup)
            registerGroup(sink, row.id, name);
        else
            registerDeviceParameter(sink, deviceContainer, row.id, name);
    }
}
