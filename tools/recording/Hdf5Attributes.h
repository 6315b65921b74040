#pragma once

#include <hdf5.h>

#include <QString>
#include <QVariant>

// Writes QVariants as HDF5 attributes the way every reader expects them:
// integers as 64-bit signed, reals as 64-bit IEEE, bools as uint8 0/1, text
// as variable-length UTF-8 strings, maps and lists as JSON text.
class Hdf5Attributes
{
public:
    // Creates (or replaces) attribute name on object. False with error set on failure.
    static bool write(hid_t object, const QString &name, const QVariant &value, QString *error);
    static bool writeAll(hid_t object, const QVariantMap &attributes, QString *error);
};
