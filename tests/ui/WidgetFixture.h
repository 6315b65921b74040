#pragma once

#include "ParameterCatalogue.h"
#include "ParameterHandler.h"

#include <QPair>
#include <QSharedPointer>
#include <QtEndian>

// Parameter values a detector has confirmed, in order.
using Confirms = QList<QPair<int, QVariant>>;

// The bytes of a number as the detector sends them.
template<typename T>
QByteArray le(T value)
{
    QByteArray bytes(sizeof value, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// A list parameter of floats, as the containers hold it.
inline QVariantList floats(std::initializer_list<float> values)
{
    QVariantList list;
    for (float value : values)
        list << value;
    return list;
}

// The two real parameter containers of a detector device, filled from the
// catalogue, with the detector's confirmations played by hand: for values the
// simulator never reports. Everything a detector does report is tested on the
// real device against the simulator (tst_widgetsondevice).
struct WidgetFixture
{
    QSharedPointer<ParameterHandler> user{new ParameterHandler(nullptr, QStringLiteral("user"))};
    QSharedPointer<ParameterHandler> device{new ParameterHandler(nullptr, QStringLiteral("device"))};

    WidgetFixture()
    {
        const auto accept = [](const ParameterInfo &) { return true; };
        ParameterCatalogue::registerUserParameters(accept, user.data());
        ParameterCatalogue::registerDeviceParameters(accept, device.data());
    }

    ParameterHandler *containerOf(int id) const { return device->contains(id) ? device.data() : user.data(); }
    void confirm(int id, const QVariant &value) const { containerOf(id)->update(id, value, 0); }
    void confirmAll(const Confirms &confirms) const
    {
        for (const auto &pair : confirms)
            confirm(pair.first, pair.second);
    }
    bool pending(int id) const { return containerOf(id)->pendingIds().contains(id); }
    QVariant requested(int id) const { return containerOf(id)->newValue(id); }
    QList<int> allPending() const { return user->pendingIds() + device->pendingIds(); }
};
