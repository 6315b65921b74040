#pragma once

#include "Hdf5Handle.h"

#include <QString>
#include <QVariantMap>

#include <map>

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
// Several detectors in one run record side by side in one file, each in a
// group of its own with its identity as attributes:
//
//   /detector_1             the detector's attributes
//       measurement_001 ... as above
//   /detector_2 ...
//
// detector 0 (the default) is the single detector's layout at the root.
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
    bool beginMeasurement(int index, QString *error, int detector = 0);
    // channelId is the id the chunk was announced with.
    bool addChunk(int channelId, const ChannelData &chunk, const ChannelInfo &info, QString *error,
                  int detector = 0);
    bool endMeasurement(const QVariantMap &attributes, QString *error, int detector = 0);
    // The attributes of /detector_N (N from 1); creates the group if need be.
    bool writeDetectorAttributes(int detector, const QVariantMap &attributes, QString *error);
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
    bool hasOpenMeasurement(int detector = 0) const;

    static QString groupName(int index);
    static QString detectorGroupName(int detector);
    static QString datasetName(int sequence);
    // "float32", "uint8" or "bytes" for a ChannelData data type.
    static QString dataTypeName(int dataType);

private:
    // Where one detector's measurements go.
    struct Lane
    {
        Hdf5Handle parent; // /detector_N; not used for detector 0 (the root)
        Hdf5Handle group;  // the open measurement
        int sequence = 0;
    };

    bool failed(const QString &what, QString *error);
    // The detector's lane, its group created on first use; null on failure.
    Lane *lane(int detector, QString *error);

    QString m_path;
    QString m_temporaryPath;
    Hdf5Handle m_file;
    std::map<int, Lane> m_lanes;
};
