#include "Hdf5Recorder.h"

#include "ChannelData.h"
#include "ChannelInfo.h"
#include "Hdf5Attributes.h"
#include "Hdf5Library.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

Hdf5Recorder::Hdf5Recorder(const QString &path)
    : m_path(QFileInfo(path).absoluteFilePath())
{
    Hdf5Library::silence();
}

Hdf5Recorder::~Hdf5Recorder()
{
    discard();
}

QString Hdf5Recorder::groupName(int index)
{
    return QStringLiteral("measurement_%1").arg(index, 3, 10, QLatin1Char('0'));
}

QString Hdf5Recorder::detectorGroupName(int detector)
{
    return QStringLiteral("detector_%1").arg(detector);
}

QString Hdf5Recorder::datasetName(int sequence)
{
    return QStringLiteral("chunk_%1").arg(sequence, 5, 10, QLatin1Char('0'));
}

QString Hdf5Recorder::dataTypeName(int dataType)
{
    switch (dataType) {
    case ChannelData::DataTypeFloat:
        return QStringLiteral("float32");
    case ChannelData::DataTypeBinary:
        return QStringLiteral("uint8");
    default:
        return QStringLiteral("bytes");
    }
}

bool Hdf5Recorder::failed(const QString &what, QString *error)
{
    const QString reason = Hdf5Library::takeMessage();
    if (error)
        *error = reason.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, reason);
    return false;
}

bool Hdf5Recorder::open(QString *error)
{
    const QFileInfo target(m_path);
    const QDir dir = target.absoluteDir();
    if (!dir.exists()) {
        *error = QStringLiteral("%1: directory does not exist").arg(dir.path());
        return false;
    }
    m_temporaryPath = dir.filePath(QStringLiteral(".%1.%2.partial").arg(target.fileName()).arg(QCoreApplication::applicationPid()));
    m_file = Hdf5Handle(H5Fcreate(QFile::encodeName(m_temporaryPath).constData(), H5F_ACC_TRUNC, H5P_DEFAULT,
                                  H5P_DEFAULT),
                        H5Fclose);
    if (!m_file.isValid()) {
        const QString reason = QFileInfo(dir.path()).isWritable() ? Hdf5Library::takeMessage()
                                                                   : QStringLiteral("directory not writable");
        *error = QStringLiteral("cannot create %1: %2").arg(m_temporaryPath, reason);
        m_temporaryPath.clear();
        return false;
    }
    return true;
}

Hdf5Recorder::Lane *Hdf5Recorder::lane(int detector, QString *error)
{
    if (!m_file.isValid()) {
        failed(QStringLiteral("recording is not open"), error);
        return nullptr;
    }
    auto it = m_lanes.find(detector);
    if (it != m_lanes.end())
        return &it->second;
    Lane l;
    if (detector > 0) {
        const QByteArray name = detectorGroupName(detector).toUtf8();
        l.parent = Hdf5Handle(H5Gcreate2(m_file.id(), name.constData(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                              H5Gclose);
        if (!l.parent.isValid()) {
            failed(QStringLiteral("cannot create group %1").arg(QString::fromUtf8(name)), error);
            return nullptr;
        }
    }
    return &m_lanes.emplace(detector, std::move(l)).first->second;
}

bool Hdf5Recorder::hasOpenMeasurement(int detector) const
{
    const auto it = m_lanes.find(detector);
    return it != m_lanes.end() && it->second.group.isValid();
}

bool Hdf5Recorder::writeDetectorAttributes(int detector, const QVariantMap &attributes, QString *error)
{
    if (detector < 1)
        return failed(QStringLiteral("detector groups are numbered from 1"), error);
    const Lane *l = lane(detector, error);
    return l && Hdf5Attributes::writeAll(l->parent.id(), attributes, error);
}

bool Hdf5Recorder::beginMeasurement(int index, QString *error, int detector)
{
    Lane *l = lane(detector, error);
    if (!l)
        return false;
    l->group.reset();
    const QByteArray name = groupName(index).toUtf8();
    const hid_t parent = detector > 0 ? l->parent.id() : m_file.id();
    l->group = Hdf5Handle(H5Gcreate2(parent, name.constData(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    if (!l->group.isValid())
        return failed(QStringLiteral("cannot create group %1").arg(QString::fromUtf8(name)), error);
    l->sequence = 0;
    return true;
}

bool Hdf5Recorder::addChunk(int channelId, const ChannelData &chunk, const ChannelInfo &info, QString *error,
                            int detector)
{
    if (!hasOpenMeasurement(detector))
        return failed(QStringLiteral("no measurement begun"), error);
    Lane &l = m_lanes.at(detector);
    const QByteArray bytes = chunk.data ? *chunk.data : QByteArray();
    hid_t type = H5T_STD_U8LE;
    hsize_t elements = hsize_t(bytes.size());
    if (chunk.dataType == ChannelData::DataTypeFloat) {
        type = H5T_IEEE_F32LE;
        elements = hsize_t(bytes.size()) / 4;
        if (bytes.size() % 4 != 0) {
            if (error)
                *error = QStringLiteral("channel %1: float chunk of %2 bytes, not a multiple of 4")
                             .arg(channelId)
                             .arg(bytes.size());
            return false;
        }
    }

    ++l.sequence;
    const QByteArray name = datasetName(l.sequence).toUtf8();
    Hdf5Handle space(H5Screate_simple(1, &elements, nullptr), H5Sclose);
    if (!space.isValid())
        return failed(QStringLiteral("cannot create dataspace"), error);
    Hdf5Handle dataset(H5Dcreate2(l.group.id(), name.constData(), type, space.id(), H5P_DEFAULT, H5P_DEFAULT,
                                  H5P_DEFAULT),
                       H5Dclose);
    if (!dataset.isValid())
        return failed(QStringLiteral("cannot create dataset %1").arg(QString::fromUtf8(name)), error);
    // The samples are little-endian on the wire and in the file: the memory
    // type says so, and HDF5 converts only on a big-endian machine.
    if (elements > 0 && H5Dwrite(dataset.id(), type, H5S_ALL, H5S_ALL, H5P_DEFAULT, bytes.constData()) < 0)
        return failed(QStringLiteral("cannot write dataset %1").arg(QString::fromUtf8(name)), error);

    double trigger = std::nan("");
    for (const ChannelData::Marker &marker : chunk.markers) {
        if (marker.kind == ChannelData::MarkerTrigger) {
            trigger = marker.time;
            break;
        }
    }
    QVariantMap attributes{
        {QStringLiteral("channel_id"), channelId},
        {QStringLiteral("channel_name"), info.name},
        {QStringLiteral("unit"), info.unit},
        {QStringLiteral("sample_rate"), info.sampleRate},
        {QStringLiteral("start_time"), chunk.startTime},
        {QStringLiteral("trigger_time"), trigger},
        {QStringLiteral("data_type"), chunk.dataType},
        {QStringLiteral("data_type_name"), dataTypeName(chunk.dataType)},
    };
    return Hdf5Attributes::writeAll(dataset.id(), attributes, error);
}

bool Hdf5Recorder::endMeasurement(const QVariantMap &attributes, QString *error, int detector)
{
    if (!hasOpenMeasurement(detector))
        return failed(QStringLiteral("no measurement begun"), error);
    Hdf5Handle &group = m_lanes.at(detector).group;
    if (!Hdf5Attributes::writeAll(group.id(), attributes, error))
        return false;
    if (!group.reset())
        return failed(QStringLiteral("cannot close the measurement group"), error);
    return true;
}

bool Hdf5Recorder::commit(const QVariantMap &attributes, QString *error)
{
    if (!m_file.isValid())
        return failed(QStringLiteral("recording is not open"), error);
    m_lanes.clear();
    QVariantMap all = attributes;
    if (!all.contains(QStringLiteral("complete")))
        all.insert(QStringLiteral("complete"), true);
    if (!Hdf5Attributes::writeAll(m_file.id(), all, error))
        return false;
    if (H5Fflush(m_file.id(), H5F_SCOPE_GLOBAL) < 0 || !m_file.reset())
        return failed(QStringLiteral("cannot write %1").arg(m_temporaryPath), error);
    if (!syncPath(m_temporaryPath)) {
        *error = QStringLiteral("cannot flush %1 to disk: %2").arg(m_temporaryPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // rename() replaces the target in one step: a reader sees the old file or
    // the new one, never a part of either.
    if (std::rename(QFile::encodeName(m_temporaryPath).constData(), QFile::encodeName(m_path).constData()) != 0) {
        *error = QStringLiteral("cannot rename %1 to %2: %3")
                     .arg(m_temporaryPath, m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_temporaryPath.clear();
    syncPath(QFileInfo(m_path).absolutePath());
    return true;
}

void Hdf5Recorder::discard()
{
    m_lanes.clear();
    m_file.reset();
    if (!m_temporaryPath.isEmpty()) {
        QFile::remove(m_temporaryPath);
        m_temporaryPath.clear();
    }
}
