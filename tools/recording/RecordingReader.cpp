#include "RecordingReader.h"

#include "Hdf5Handle.h"
#include "Hdf5Library.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>
#include <vector>

namespace {

QVariant readAttribute(hid_t object, const char *name)
{
    Hdf5Handle attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!attribute.isValid())
        return QVariant();
    Hdf5Handle type(H5Aget_type(attribute.id()), H5Tclose);
    Hdf5Handle space(H5Aget_space(attribute.id()), H5Sclose);
    // Only scalars are ours; anything else is someone else's attribute.
    if (!type.isValid() || !space.isValid() || H5Sget_simple_extent_type(space.id()) != H5S_SCALAR)
        return QVariant();
    switch (H5Tget_class(type.id())) {
    case H5T_INTEGER: {
        long long v = 0;
        return H5Aread(attribute.id(), H5T_NATIVE_LLONG, &v) >= 0 ? QVariant(v) : QVariant();
    }
    case H5T_FLOAT: {
        double v = 0;
        return H5Aread(attribute.id(), H5T_NATIVE_DOUBLE, &v) >= 0 ? QVariant(v) : QVariant();
    }
    case H5T_STRING: {
        if (H5Tis_variable_str(type.id()) > 0) {
            Hdf5Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
            if (!memory.isValid() || H5Tset_size(memory.id(), H5T_VARIABLE) < 0
                || H5Tset_cset(memory.id(), H5T_CSET_UTF8) < 0)
                return QVariant();
            char *text = nullptr;
            if (H5Aread(attribute.id(), memory.id(), &text) < 0)
                return QVariant();
            const QString value = QString::fromUtf8(text ? text : "",
                                                    text ? int(qMin<size_t>(::strnlen(text, size_t(RecordingReader::kMaxTextBytes)),
                                                                            size_t(RecordingReader::kMaxTextBytes)))
                                                         : 0);
            H5Dvlen_reclaim(memory.id(), space.id(), H5P_DEFAULT, &text);
            return value;
        }
        const size_t size = H5Tget_size(type.id());
        if (size == 0 || size > size_t(RecordingReader::kMaxTextBytes))
            return QVariant();
        std::vector<char> text(size + 1, '\0');
        if (H5Aread(attribute.id(), type.id(), text.data()) < 0)
            return QVariant();
        return QString::fromUtf8(text.data());
    }
    default:
        return QVariant();
    }
}

struct AttributeWalk
{
    QVariantMap map;
    int seen = 0;
};

herr_t collectAttribute(hid_t object, const char *name, const H5A_info_t *, void *data)
{
    auto *walk = static_cast<AttributeWalk *>(data);
    if (++walk->seen > RecordingReader::kMaxAttributes)
        return 1; // stop: no recording of ours has that many
    const QVariant value = readAttribute(object, name);
    if (value.isValid())
        walk->map.insert(QString::fromUtf8(name), value);
    return 0;
}

QVariantMap attributesOf(hid_t object)
{
    AttributeWalk walk;
    hsize_t index = 0;
    H5Aiterate2(object, H5_INDEX_NAME, H5_ITER_INC, &index, collectAttribute, &walk);
    Hdf5Library::takeMessage();
    return walk.map;
}

struct LinkWalk
{
    H5I_type_t type;
    QStringList names;
};

// H5Oopen and H5Iget_type rather than H5Oget_info, whose signature differs
// between HDF5 1.10 and later; a damaged object header fails here alone.
herr_t collectLink(hid_t group, const char *name, const H5L_info_t *info, void *data)
{
    auto *walk = static_cast<LinkWalk *>(data);
    if (walk->names.size() >= RecordingReader::kMaxChildren)
        return 1;
    if (info->type != H5L_TYPE_HARD)
        return 0;
    Hdf5Handle object(H5Oopen(group, name, H5P_DEFAULT), H5Oclose);
    if (object.isValid() && H5Iget_type(object.id()) == walk->type)
        walk->names.append(QString::fromUtf8(name));
    return 0;
}

QStringList children(hid_t group, H5I_type_t type)
{
    LinkWalk walk{type, {}};
    hsize_t index = 0;
    H5Literate(group, H5_INDEX_NAME, H5_ITER_INC, &index, collectLink, &walk);
    Hdf5Library::takeMessage();
    return walk.names;
}

template<typename F>
auto inGroup(hid_t file, const QString &name, F f) -> decltype(f(hid_t()))
{
    if (file < 0)
        return {};
    Hdf5Handle group(H5Gopen2(file, name.toUtf8().constData(), H5P_DEFAULT), H5Gclose);
    if (!group.isValid()) {
        Hdf5Library::takeMessage();
        return {};
    }
    return f(group.id());
}

} // namespace

RecordingReader::RecordingReader(const QString &path)
{
    Hdf5Library::silence();
    check(path);
}

RecordingReader::~RecordingReader()
{
    if (m_file >= 0)
        H5Fclose(m_file);
}

void RecordingReader::check(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    QFile probe(path);
    if (!QFileInfo(path).isFile() || !probe.open(QIODevice::ReadOnly)) {
        m_status = Status::Unreadable;
        m_error = QStringLiteral("%1: cannot read: %2")
                      .arg(path, QFileInfo::exists(path) ? probe.errorString() : QStringLiteral("no such file"));
        return;
    }
    probe.close();
    if (H5Fis_hdf5(name.constData()) <= 0) {
        Hdf5Library::takeMessage();
        m_status = Status::NotHdf5;
        m_error = QStringLiteral("%1: not an HDF5 file").arg(path);
        return;
    }
    m_file = H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (m_file < 0) {
        const QString reason = Hdf5Library::takeMessage();
        m_status = Status::Damaged;
        m_error = QStringLiteral("%1: damaged or truncated HDF5 file%2")
                      .arg(path, reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason));
        return;
    }
    const QVariantMap root = rootAttributes();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String("dravik-host recording")) {
        m_status = Status::Foreign;
        m_error = QStringLiteral("%1: an HDF5 file, but not a dravik-host recording (no \"format\" attribute "
                                 "\"dravik-host recording\")")
                      .arg(path);
        return;
    }
    bool ok = false;
    const int version = root.value(QStringLiteral("format_version")).toInt(&ok);
    if (!ok || version < 1 || version > kFormatVersion) {
        m_status = Status::NewerVersion;
        m_error = QStringLiteral("%1: recording format version %2; this dravik-host reads version %3")
                      .arg(path, root.value(QStringLiteral("format_version")).toString())
                      .arg(kFormatVersion);
        return;
    }
    if (root.value(QStringLiteral("complete")).toInt() != 1) {
        m_status = Status::Incomplete;
        const QString why = root.value(QStringLiteral("error")).toString();
        m_error = why.isEmpty() ? QStringLiteral("%1: the recording was not completed").arg(path)
                                : QStringLiteral("%1: the recording was not completed: %2").arg(path, why);
        return;
    }
    m_status = Status::Ok;
}

int RecordingReader::detectorCount() const
{
    return isOpen() ? attributesOf(m_file).value(QStringLiteral("detector_count"), 0).toInt() : 0;
}

bool RecordingReader::selectDetector(int detector)
{
    const QString group = QStringLiteral("detector_%1").arg(detector);
    if (!isOpen() || detector < 1 || detector > detectorCount() || !children(m_file, H5I_GROUP).contains(group)) {
        m_error = QStringLiteral("no detector %1 in the recording (it has %2)").arg(detector).arg(detectorCount());
        return false;
    }
    m_prefix = group;
    return true;
}

QVariantMap RecordingReader::rootAttributes() const
{
    if (!isOpen())
        return QVariantMap();
    QVariantMap attributes = attributesOf(m_file);
    if (!m_prefix.isEmpty()) {
        const QVariantMap detector = inGroup(m_file, m_prefix, attributesOf);
        for (auto it = detector.cbegin(); it != detector.cend(); ++it)
            attributes.insert(it.key(), it.value());
    }
    return attributes;
}

QStringList RecordingReader::groups(const QString &parent) const
{
    if (!isOpen())
        return QStringList();
    if (parent.isEmpty() && m_prefix.isEmpty())
        return children(m_file, H5I_GROUP);
    return inGroup(m_file, in(parent), [](hid_t g) { return children(g, H5I_GROUP); });
}

QVariantMap RecordingReader::groupAttributes(const QString &group) const
{
    return inGroup(m_file, in(group), attributesOf);
}

QStringList RecordingReader::datasets(const QString &group) const
{
    return inGroup(m_file, in(group), [](hid_t g) { return children(g, H5I_DATASET); });
}

RecordingReader::Dataset RecordingReader::dataset(const QString &group, const QString &name, bool withData) const
{
    Dataset d;
    d.name = name;
    const QString path = in(group) + QLatin1Char('/') + name;
    Hdf5Handle set(isOpen() ? H5Dopen2(m_file, path.toUtf8().constData(), H5P_DEFAULT) : -1, H5Dclose);
    if (!set.isValid()) {
        d.error = QStringLiteral("%1: cannot open (%2)").arg(path, Hdf5Library::takeMessage());
        return d;
    }
    Hdf5Handle type(H5Dget_type(set.id()), H5Tclose);
    Hdf5Handle space(H5Dget_space(set.id()), H5Sclose);
    hsize_t dims[1] = {0};
    if (type.isValid() && space.isValid() && H5Sget_simple_extent_ndims(space.id()) == 1
        && H5Sget_simple_extent_dims(space.id(), dims, nullptr) == 1)
        d.elements = dims[0] <= hsize_t(kMaxElements) ? qint64(dims[0]) : -1;
    if (d.elements < 0) {
        Hdf5Library::takeMessage();
        d.error = QStringLiteral("%1: not a one-dimensional dataset of at most %2 elements").arg(path).arg(kMaxElements);
        return d;
    }
    const H5T_class_t cls = H5Tget_class(type.id());
    const size_t size = H5Tget_size(type.id());
    d.littleEndian = H5Tget_order(type.id()) == H5T_ORDER_LE || size == 1;
    hid_t memory = -1;
    if (cls == H5T_FLOAT && size == 4) {
        d.type = QStringLiteral("float32");
        memory = H5T_IEEE_F32LE;
    } else if (cls == H5T_INTEGER && size == 1 && H5Tget_sign(type.id()) == H5T_SGN_NONE) {
        d.type = QStringLiteral("uint8");
        memory = H5T_STD_U8LE;
    } else {
        d.type = QStringLiteral("other");
    }
    d.attributes = attributesOf(set.id());
    if (withData && memory >= 0 && d.elements > 0) {
        d.data.resize(int(d.elements * qint64(size)));
        // The memory type is little-endian: HDF5 converts only on a big-endian machine.
        if (H5Dread(set.id(), memory, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.data.data()) < 0) {
            d.data.clear();
            d.error = QStringLiteral("%1: cannot read the samples (%2)").arg(path, Hdf5Library::takeMessage());
        }
    }
    return d;
}

QVector<float> RecordingReader::floatSamples(const Dataset &dataset)
{
    QVector<float> samples;
    if (dataset.type != QLatin1String("float32"))
        return samples;
    const int n = dataset.data.size() / 4;
    samples.resize(n);
    const uchar *p = reinterpret_cast<const uchar *>(dataset.data.constData());
    for (int i = 0; i < n; ++i)
        samples[i] = qFromLittleEndian<float>(p + 4 * i);
    return samples;
}
