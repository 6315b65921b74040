#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

// Reads a dravik-host recording (the layout Hdf5Recorder writes) back with the
// HDF5 C library: groups, datasets, their element type and attributes.
//
// Every file is outside input: the reader checks that it is HDF5 at all, that
// it is a complete recording of this format, caps every size before it
// allocates, and reports what is wrong in words instead of crashing or
// printing the library's error stack. A damaged part reads as absent with an
// error, the rest of the file stays usable.
class RecordingReader
{
public:
    enum class Status {
        Ok,
        Unreadable,   // missing, no permission
        NotHdf5,      // no HDF5 signature
        Damaged,      // HDF5 signature, but the library cannot open it (truncated, corrupted)
        Foreign,      // HDF5, but not a dravik-host recording
        Incomplete,   // a recording that was never committed ("complete" is not 1)
        NewerVersion, // a format version this reader does not know
    };

    struct Dataset
    {
        QString name;
        QString type;      // "float32", "uint8" or "other"
        bool littleEndian = true;
        qint64 elements = -1;
        QByteArray data;   // raw elements as stored (little-endian); empty unless read
        QVariantMap attributes;
        QString error;     // why the dataset or its samples could not be read
    };

    static constexpr int kFormatVersion = 1;
    // Datasets above this are refused rather than read (256 MiB of float32).
    static constexpr qint64 kMaxElements = 64 * 1024 * 1024;
    // Objects, attributes and texts beyond these are not a recording of ours.
    static constexpr int kMaxChildren = 1000000;
    static constexpr int kMaxAttributes = 1000;
    static constexpr qint64 kMaxTextBytes = 16 * 1024 * 1024;

    explicit RecordingReader(const QString &path);
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    // The file is open as HDF5 (a foreign or incomplete file is open too).
    bool isOpen() const { return m_file >= 0; }
    Status status() const { return m_status; }
    // What is wrong with the file, starting with its path; empty when Ok.
    QString errorString() const { return m_error; }

    // A recording of several detectors ("detector_count" at the root) holds
    // each in /detector_N. After selectDetector(N) the reader shows that
    // detector as a recording of its own: the groups and datasets below
    // /detector_N, the root's attributes with the detector's over them.
    // False with errorString() set if there is no such detector.
    int detectorCount() const;
    bool selectDetector(int detector);

    QVariantMap rootAttributes() const;
    // Groups and datasets in name order: the root's groups, or those of
    // parent ("detector_2" in a recording of several detectors).
    QStringList groups(const QString &parent = QString()) const;
    QVariantMap groupAttributes(const QString &group) const;
    QStringList datasets(const QString &group) const;
    // The dataset with its samples, or (withData false) only its type, size
    // and attributes.
    Dataset dataset(const QString &group, const QString &name, bool withData = true) const;

    // The float32 elements of a dataset read with its data; empty for any other type.
    static QVector<float> floatSamples(const Dataset &dataset);

private:
    void check(const QString &path);

    // group below the selected detector's ("detector_N", empty if none).
    QString in(const QString &group) const
    {
        return m_prefix.isEmpty() ? group : group.isEmpty() ? m_prefix : m_prefix + QLatin1Char('/') + group;
    }

    long long m_file = -1;
    QString m_prefix;
    Status m_status = Status::Unreadable;
    QString m_error;
};
