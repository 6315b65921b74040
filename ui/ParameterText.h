#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QtEndian>

// The detector keeps some parameters as raw bytes (its network configuration,
// serial number, calibration) or as its own state type (the channel states).
// This is how the widgets write those as text and read a typed text back, so
// that the configuration view and the parameter tree agree.
class ParameterText
{
public:
    // The readable text of a value of one of these parameters; false when the
    // id is none of them or the value does not have the parameter's form.
    static bool format(int id, const QVariant &value, QString *text);
    // The value a text stands for, in the form the detector keeps (only for
    // the ids format() writes); false when the text does not give one.
    static bool parse(int id, const QString &text, QVariant *value);

    // The parts of the text between separators as bytes in the base; empty
    // when a part does not convert or does not fit a byte.
    static QByteArray addressValue(const QString &text, const QString &separator, int base);
    // The byte of a channel state report (low nibble the channel, high nibble
    // its flags), however the value came; -1 when it is none.
    static int channelState(const QVariant &value);

    // A number's bytes as the detector keeps them.
    template<typename T>
    static QByteArray littleEndian(T value)
    {
        QByteArray bytes(int(sizeof(T)), Qt::Uninitialized);
        qToLittleEndian(value, bytes.data());
        return bytes;
    }

private:
    ParameterText() = delete;
};
