#include "Hdf5Library.h"

#include <hdf5.h>

namespace {

herr_t keepInnermost(unsigned, const H5E_error2_t *entry, void *data)
{
    auto *message = static_cast<QString *>(data);
    if (entry && entry->desc && message->isEmpty())
        *message = QString::fromLocal8Bit(entry->desc);
    return 0;
}

} // namespace

void Hdf5Library::silence()
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

QString Hdf5Library::takeMessage()
{
    QString message;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, keepInnermost, &message);
    H5Eclear2(H5E_DEFAULT);
    return message;
}
