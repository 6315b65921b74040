#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

// Reads a dravik-host recording back with the HDF5 C library, independently
// of the host's writer: groups, datasets, their element type and attributes.
class RecordingReader
{
public:
    struct Dataset
    {
        QString name;
        QString type;      // "float32", "uint8" or "other"
        bool littleEndian = true;
        qint64 elements = -1;
        QByteArray data;   // raw elements as stored (little-endian)
        QVariantMap attributes;
    };

    explicit RecordingReader(const QString &path);
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    bool isOpen() const { return m_file >= 0; }
    QVariantMap rootAttributes() const;
    QStringList groups() const;
    QVariantMap groupAttributes(const QString &group) const;
    QStringList datasets(const QString &group) const;
    Dataset dataset(const QString &group, const QString &name) const;

private:
    long long m_file = -1;
};
