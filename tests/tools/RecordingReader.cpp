#include "RecordingReader.h"

#include <hdf5.h>

#include <vector>

namespace {

herr_t collectAttribute(hid_t object, const char *name, const H5A_info_t *, void *data)
{
    auto *map = static_cast<QVariantMap *>(data);
    const hid_t attribute = H5Aopen(object, name, H5P_DEFAULT);
    const hid_t type = H5Aget_type(attribute);
    QVariant value;
    switch (H5Tget_class(type)) {
    case H5T_INTEGER: {
        long long v = 0;
        H5Aread(attribute, H5T_NATIVE_LLONG, &v);
        value = v;
        break;
    }
    case H5T_FLOAT: {
        double v = 0;
        H5Aread(attribute, H5T_NATIVE_DOUBLE, &v);
        value = v;
        break;
    }
    case H5T_STRING:
        if (H5Tis_variable_str(type) > 0) {
            char *text = nullptr;
            const hid_t memory = H5Tcopy(H5T_C_S1);
            H5Tset_size(memory, H5T_VARIABLE);
            H5Tset_cset(memory, H5T_CSET_UTF8);
            H5Aread(attribute, memory, &text);
            value = QString::fromUtf8(text ? text : "");
            const hid_t space = H5Aget_space(attribute);
            H5Dvlen_reclaim(memory, space, H5P_DEFAULT, &text);
            H5Sclose(space);
            H5Tclose(memory);
        } else {
            std::vector<char> text(H5Tget_size(type) + 1, '\0');
            H5Aread(attribute, type, text.data());
            value = QString::fromUtf8(text.data());
        }
        break;
    default:
        value = QStringLiteral("<unsupported attribute type>");
        break;
    }
    H5Tclose(type);
    H5Aclose(attribute);
    map->insert(QString::fromUtf8(name), value);
    return 0;
}

QVariantMap attributesOf(hid_t object)
{
    QVariantMap map;
    hsize_t index = 0;
    H5Aiterate2(object, H5_INDEX_NAME, H5_ITER_INC, &index, collectAttribute, &map);
    return map;
}

// The unversioned names, so that this builds against HDF5 1.10 and later alike.
herr_t collectLink(hid_t group, const char *name, const H5L_info_t *, void *data)
{
    auto *out = static_cast<QPair<H5I_type_t, QStringList> *>(data);
    const hid_t object = H5Oopen(group, name, H5P_DEFAULT);
    if (object < 0)
        return 0;
    if (H5Iget_type(object) == out->first)
        out->second.append(QString::fromUtf8(name));
    H5Oclose(object);
    return 0;
}

QStringList children(hid_t group, H5I_type_t type)
{
    QPair<H5I_type_t, QStringList> out{type, {}};
    hsize_t index = 0;
    H5Literate(group, H5_INDEX_NAME, H5_ITER_INC, &index, collectLink, &out);
    return out.second;
}

} // namespace

RecordingReader::RecordingReader(const QString &path)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    m_file = H5Fopen(path.toLocal8Bit().constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
}

RecordingReader::~RecordingReader()
{
    if (m_file >= 0)
        H5Fclose(m_file);
}

QVariantMap RecordingReader::rootAttributes() const
{
    return isOpen() ? attributesOf(m_file) : QVariantMap();
}

QStringList RecordingReader::groups() const
{
    return isOpen() ? children(m_file, H5I_GROUP) : QStringList();
}

namespace {

// f(group) on the group opened by name; a default result if there is none.
template<typename F>
auto inGroup(hid_t file, const QString &name, F f) -> decltype(f(hid_t()))
{
    const hid_t group = H5Gopen2(file, name.toUtf8().constData(), H5P_DEFAULT);
    if (group < 0)
        return {};
    const auto result = f(group);
    H5Gclose(group);
    return result;
}

} // namespace

QVariantMap RecordingReader::groupAttributes(const QString &group) const
{
    return inGroup(m_file, group, attributesOf);
}

QStringList RecordingReader::datasets(const QString &group) const
{
    return inGroup(m_file, group, [](hid_t g) { return children(g, H5I_DATASET); });
}

RecordingReader::Dataset RecordingReader::dataset(const QString &group, const QString &name) const
{
    Dataset d;
    d.name = name;
    const hid_t set = H5Dopen2(m_file, (group + QLatin1Char('/') + name).toUtf8().constData(), H5P_DEFAULT);
    if (set < 0)
        return d;
    const hid_t type = H5Dget_type(set);
    const hid_t space = H5Dget_space(set);
    hsize_t dims[1] = {0};
    if (H5Sget_simple_extent_ndims(space) == 1) {
        H5Sget_simple_extent_dims(space, dims, nullptr);
        d.elements = qint64(dims[0]);
    }
    const H5T_class_t cls = H5Tget_class(type);
    const size_t size = H5Tget_size(type);
    d.littleEndian = H5Tget_order(type) == H5T_ORDER_LE || size == 1;
    hid_t memory = -1;
    if (cls == H5T_FLOAT && size == 4) {
        d.type = QStringLiteral("float32");
        memory = H5T_IEEE_F32LE;
    } else if (cls == H5T_INTEGER && size == 1 && H5Tget_sign(type) == H5T_SGN_NONE) {
        d.type = QStringLiteral("uint8");
        memory = H5T_STD_U8LE;
    } else {
        d.type = QStringLiteral("other");
    }
    if (memory >= 0 && d.elements > 0) {
        d.data.resize(int(d.elements * qint64(size)));
        H5Dread(set, memory, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.data.data());
    }
    d.attributes = attributesOf(set);
    H5Sclose(space);
    H5Tclose(type);
    H5Dclose(set);
    return d;
}
