#pragma once

#include <QSharedPointer>
#include <QVariant>
#include <QWidget>

class ParameterHandler;

// The base of the device's widgets: binds a widget to the user and the device
// parameter container and to the device's connection signals. Widgets read
// confirmed values and request changes here; they never talk to the link.
class DravikBaseWidget_v2 : public QWidget
{
    Q_OBJECT

public:
    DravikBaseWidget_v2(QSharedPointer<ParameterHandler> userContainer,
                        QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent = nullptr);

    // The confirmed value: from the device container when it holds the id,
    // otherwise from the user container.
    QVariant parameter(int id) const;
    // Requests a change in the same container choice as parameter().
    void setParameter(int id, const QVariant &value);
    // Lets every control show the current values.
    void refreshAll();

    // 1e-10 gives "100 pC".
    static QString formatCharge(double coulombs);
    // Equal within a relative tolerance of 1e-12.
    static bool fuzzyEqual(double a, double b);

    QString connectedText() const { return m_connectedText; }
    QString notConnectedText() const { return m_notConnectedText; }

Q_SIGNALS:
    void connectDevice();
    void disconnectDevice();

public Q_SLOTS:
    virtual void onDeviceConnected();
    virtual void onDeviceDisconnected(int status);
    virtual void onUserParameterStatusChanged(int parameterId, int status);
    virtual void onDeviceParameterStatusChanged(int parameterId, int status);

protected:
    ParameterHandler *containerFor(int id) const;

    QSharedPointer<ParameterHandler> m_userContainer;
    QSharedPointer<ParameterHandler> m_deviceContainer;

private:
    const QString m_connectedText;
    const QString m_notConnectedText;
};
