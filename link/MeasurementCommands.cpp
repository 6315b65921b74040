#include "MeasurementCommands.h"

#include "SdkMetaTypes.h"

#include <QAbstractSocket>
#include <QVariantHash>

void registerLinkMetaTypes()
{
    registerSdkMetaTypes();
    qRegisterMetaType<MeasurementCommands>("MeasurementCommands");
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
    qRegisterMetaType<QVariantHash>("QVariantHash");
    qRegisterMetaType<quint64>("quint64");
}
