#include "Hdf5Attributes.h"

#include "Hdf5Handle.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>

namespace {

bool writeScalar(hid_t object, const QByteArray &name, hid_t fileType, hid_t memoryType, const void *data)
{
    if (H5Aexists(object, name.constData()) > 0 && H5Adelete(object, name.constData()) < 0)
        return false;
    Hdf5Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    if (!space.isValid())
        return false;
    Hdf5Handle attribute(H5Acreate2(object, name.constData(), fileType, space.id(), H5P_DEFAULT, H5P_DEFAULT),
                         H5Aclose);
    return attribute.isValid() && H5Awrite(attribute.id(), memoryType, data) >= 0;
}

bool writeText(hid_t object, const QByteArray &name, const QString &text)
{
    Hdf5Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    if (!type.isValid() || H5Tset_size(type.id(), H5T_VARIABLE) < 0 || H5Tset_cset(type.id(), H5T_CSET_UTF8) < 0)
        return false;
    const QByteArray utf8 = text.toUtf8();
    const char *pointer = utf8.constData();
    return writeScalar(object, name, type.id(), type.id(), &pointer);
}

} // namespace

bool Hdf5Attributes::write(hid_t object, const QString &name, const QVariant &value, QString *error)
{
    const QByteArray key = name.toUtf8();
    bool ok = false;
    switch (int(value.userType())) {
    case QMetaType::Bool: {
        const quint8 b = value.toBool() ? 1 : 0;
        ok = writeScalar(object, key, H5T_STD_U8LE, H5T_NATIVE_UINT8, &b);
        break;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qint64 i = value.toLongLong();
        ok = writeScalar(object, key, H5T_STD_I64LE, H5T_NATIVE_INT64, &i);
        break;
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        ok = writeScalar(object, key, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &d);
        break;
    }
    case QMetaType::QVariantMap:
        ok = writeText(object, key, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(value.toMap()))
                                                          .toJson(QJsonDocument::Compact)));
        break;
    case QMetaType::QVariantHash:
        ok = writeText(object, key, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantHash(value.toHash()))
                                                          .toJson(QJsonDocument::Compact)));
        break;
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        ok = writeText(object, key, QString::fromUtf8(QJsonDocument(QJsonArray::fromVariantList(value.toList()))
                                                          .toJson(QJsonDocument::Compact)));
        break;
    default:
        ok = writeText(object, key, value.toString());
        break;
    }
    if (!ok && error)
        *error = QStringLiteral("cannot write attribute \"%1\"").arg(name);
    return ok;
}

bool Hdf5Attributes::writeAll(hid_t object, const QVariantMap &attributes, QString *error)
{
    for (auto it = attributes.constBegin(); it != attributes.constEnd(); ++it) {
        if (!write(object, it.key(), it.value(), error))
            return false;
    }
    return true;
}
