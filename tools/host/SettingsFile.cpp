#include "SettingsFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace {

enum class Kind { Text, Number, Flag };

struct Key
{
    const char *name;
    Kind kind;
    bool postProcessing;
    // Numbers outside [minimum, maximum] are refused, where the device would
    // take another value than the one given (and recorded).
    double minimum = -std::numeric_limits<double>::infinity();
    double maximum = std::numeric_limits<double>::infinity();
};

const Key kKeys[] = {
    {"NetworkAddress", Kind::Text, false},
    // Milliseconds; the plug-in holds the alive interval between these.
    {"AliveTimout", Kind::Number, false, 1000, 10000},
    {"HoldTimeDG0", Kind::Number, false},
    {"SystemGatingLevel", Kind::Number, false},
    {"SystemGatingHoldTime", Kind::Number, false},
    {"PdLogFile", Kind::Text, false},
    {"MaxShotsVLFSinLocalization", Kind::Number, false},
    {"ServiceMode", Kind::Flag, false},
    {"ProductionMode", Kind::Flag, false},
    {"DevelopMode", Kind::Flag, false},
    {"GatingTime", Kind::Number, true},
    {"TVAmplitudeThreshold", Kind::Number, true},
    // The post-processing device spells it this way.
    {"NoPostAquisitionCut", Kind::Number, true},
    {"NoAdaptiveGain", Kind::Number, true},
    {"NoBinaryChannels", Kind::Number, true},
};

const Key *findKey(const QString &name)
{
    for (const Key &key : kKeys) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

QStringList keyNames(bool postProcessing)
{
    QStringList names;
    for (const Key &key : kKeys) {
        if (key.postProcessing == postProcessing)
            names.append(QLatin1String(key.name));
    }
    return names;
}

// A key that differs from a known one only in case: the likeliest slip.
QString suggestion(const QString &name)
{
    for (const Key &key : kKeys) {
        if (name.compare(QLatin1String(key.name), Qt::CaseInsensitive) == 0)
            return QLatin1String(key.name);
    }
    if (name.compare(QLatin1String("AliveTimeout"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("AliveTimout");
    if (name.compare(QLatin1String("NoPostAcquisitionCut"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("NoPostAquisitionCut");
    return QString();
}

} // namespace

QStringList SettingsFile::deviceKeys()
{
    return keyNames(false);
}

QStringList SettingsFile::postProcessingKeys()
{
    return keyNames(true);
}

bool SettingsFile::load(const QString &path)
{
    m_values.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        m_error = QStringLiteral("%1: not JSON (%2 at offset %3)").arg(path, parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        m_error = QStringLiteral("%1: expected one JSON object of settings").arg(path);
        return false;
    }

    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Key *key = findKey(it.key());
        if (!key) {
            const QString hint = suggestion(it.key());
            m_error = hint.isEmpty()
                          ? QStringLiteral("%1: unknown key \"%2\"").arg(path, it.key())
                          : QStringLiteral("%1: unknown key \"%2\" (did you mean \"%3\"?)").arg(path, it.key(), hint);
            return false;
        }
        const QJsonValue v = it.value();
        switch (key->kind) {
        case Kind::Text:
            if (!v.isString()) {
                m_error = QStringLiteral("%1: \"%2\" must be text").arg(path, it.key());
                return false;
            }
            m_values.insert(it.key(), v.toString());
            break;
        case Kind::Flag:
            if (!v.isBool()) {
                m_error = QStringLiteral("%1: \"%2\" must be true or false").arg(path, it.key());
                return false;
            }
            m_values.insert(it.key(), v.toBool());
            break;
        case Kind::Number: {
            // The post-processing device reads its switches as numbers, so
            // true and false are taken as 1 and 0.
            if (key->postProcessing && v.isBool()) {
                m_values.insert(it.key(), v.toBool() ? 1 : 0);
                break;
            }
            if (!v.isDouble() || !std::isfinite(v.toDouble())) {
                m_error = QStringLiteral("%1: \"%2\" must be a number").arg(path, it.key());
                return false;
            }
            const double number = v.toDouble();
            if (number < key->minimum || number > key->maximum) {
                m_error = QStringLiteral("%1: \"%2\" must be a number from %3 to %4, not %5")
                              .arg(path, it.key())
                              .arg(key->minimum)
                              .arg(key->maximum)
                              .arg(number);
                return false;
            }
            if (std::floor(number) == number && std::abs(number) < 9.0e15)
                m_values.insert(it.key(), qlonglong(number));
            else
                m_values.insert(it.key(), number);
            break;
        }
        }
    }
    return true;
}
