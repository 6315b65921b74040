#pragma once

#include "Hdf5Handle.h"

#include <QString>
#include <QVariantMap>

struct ChannelData;
struct ChannelInfo;

// Writes one run to one HDF5 file:
//
//   /                       run attributes (plug-in, device, settings, environment, ...)
//   /measurement_001        one group per measurement, with its attributes
//       chunk_00001         one dataset per chunk: float32 or uint8, one sample
//       chunk_00002         per element, with the chunk's attributes
//   /measurement_002 ...
//
// Everything goes to a hidden temporary file next to the target
// (".NAME.PID.partial"); commit() closes it, flushes it to the disk and renames
// it over the target in one step; a run that failed commits what it has with
// "complete" = 0. Until then the target stays untouched.
class Hdf5Recorder
{
public:
    explicit Hdf5Recorder(const QString &path);
    ~Hdf5Recorder(); // discards whatever was not committed

    Hdf5Recorder(const Hdf5Recorder &) = delete;
    Hdf5Recorder &operator=(const Hdf5Recorder &) = delete;

    // Creates the temporary file. The target's directory must exist.
    bool open(QString *error);
    bool beginMeasurement(int index, QString *error);
    // channelId is the id the chunk was announced with.
    bool addChunk(int channelId, const ChannelData &chunk, const ChannelInfo &info, QString *error);
    bool endMeasurement(const QVariantMap &attributes, QString *error);
    // Writes the run attributes (plus "complete" = 1 unless they give it:
    // a run that failed keeps what it recorded with "complete" = 0), closes,
    // syncs and renames.
    bool commit(const QVariantMap &attributes, QString *error);
    // Closes and removes the temporary file; the target is left as it was.
    void discard();

    QString path() const { return m_path; }
    QString temporaryPath() const { return m_temporaryPath; }
    bool isOpen() const { return m_file.isValid(); }
    // A measurement was begun and not ended.
    bool hasOpenMeasurement() const { return m_group.isValid(); }

    static QString groupName(int index);
    static QString datasetName(int sequence);
    // "float32", "uint8" or "bytes" for a ChannelData data type.
    static QString dataTypeName(int dataType);

private:
    bool failed(const QString &what, QString *error);

    QString m_path;
    QString m_temporaryPath;
    Hdf5Handle m_file;
    Hdf5Handle m_group;
    int m_sequence = 0;
};
