#pragma once

#include "ParameterInfo.h"

#include <QList>
#include <QPair>
#include <QVariant>
#include <QString>

#include <functional>

class ParameterHandler;

// Every parameter of the detector device as data: ids, enumerator names,
// display names, host kinds, groups, the container each belongs in, and the
// order of registration.
//
// The catalogue does not know the device class; the device hands it a sink
// that registers one ParameterInfo (AbstractDevice::registerParameter), so
// the dependency arrow keeps pointing from the device to the parameters.
class ParameterCatalogue
{
public:
    // Registers one record; false if the device refused it.
    using RegisterFunction = std::function<bool(const ParameterInfo &)>;

    enum Kind {
        KindGeneric = 0,
        KindSerialNumber = 1,
        KindCharge = 18,
        KindChargeToVoltageFactor = 27,
        KindDeviceParameter = 1000,
        KindGroup = 1001
    };

    // Values the device confirms in the user container at initialisation,
    // in that order: 2004 true, 1171 the factory address, 1172 5000 ms,
    // 1176 false, 2010 false, 2008 50.
    static QList<QPair<int, QVariant>> userDefaults();

    // "(id)" followed by the enumerator name, or only "(id)" where the id has none.
    static QString logName(int id);

    // User parameters and settings, in registration order, into the user container.
    static void registerUserParameters(const RegisterFunction &sink, ParameterHandler *userContainer);
    // Detector parameters and their group headers, in registration order, into
    // the device container (group headers go into no container).
    static void registerDeviceParameters(const RegisterFunction &sink, ParameterHandler *deviceContainer);

private:
    // Each registers one internal record; a record the device refuses is not
    // added to the container either, so a container holds exactly the ids the
    // device knows. A null container is skipped.
    static bool registerGroup(const RegisterFunction &sink, int id, const QString &name);
    static bool registerDeviceParameter(const RegisterFunction &sink, ParameterHandler *deviceContainer,
                                        int id, const QString &name);
    static bool registerUserParameter(const RegisterFunction &sink, ParameterHandler *userContainer,
                                      int id, const QString &name, int kind);
    static bool registerInUserContainer(const RegisterFunction &sink, ParameterHandler *userContainer,
                                        const ParameterInfo &info);
};
