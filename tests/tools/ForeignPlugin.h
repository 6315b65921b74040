#pragma once

#include <QObject>

// A valid Qt plug-in for some other interface: the host must refuse it
// without treating it as a device plug-in.
class ForeignPlugin : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.example.SomethingElse/1.0")

public:
    using QObject::QObject;
};
