#pragma once

#include <QObject>

class ForeignPlugin : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.example.SomethingElse/1.0")

public:
    using QObject::QObject;
};
