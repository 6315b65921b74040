#pragma once

#include <QString>
#include <QStringList>
#include <QVariantHash>

// A settings file: one JSON object whose keys are the device's settings keys
// and the post-processing device's keys. Keys are checked against both lists
// so that a misspelt key ("AliveTimeout" for the device's "AliveTimout") is an
// error instead of a setting silently not applied.
class SettingsFile
{
public:
    // Reads path. False with errorString() set if the file cannot be read, is
    // no JSON object, or holds an unknown key or a value of the wrong kind.
    bool load(const QString &path);
    QString errorString() const { return m_error; }

    // The values as the device's applySettings() takes them: text stays text,
    // whole numbers become integers, other numbers doubles, flags bools.
    QVariantHash values() const { return m_values; }

    static QStringList deviceKeys();
    static QStringList postProcessingKeys();

private:
    QVariantHash m_values;
    QString m_error;
};
