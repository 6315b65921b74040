#pragma once

#include <QHash>
#include <QSharedPointer>
#include <QVariant>
#include <QWidget>

class ComboBox;
class DoubleSpinBox;
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
    QString notAvailableText() const { return m_notAvailableText; }

Q_SIGNALS:
    void connectDevice();
    void disconnectDevice();

public Q_SLOTS:
    virtual void onDeviceConnected();
    virtual void onDeviceDisconnected(int status);
    // Both lead to updateParameter().
    virtual void onUserParameterStatusChanged(int parameterId, int status);
    virtual void onDeviceParameterStatusChanged(int parameterId, int status);

    // Control to parameter, shared by the widgets that have these controls.
    // A sender missing from its table writes parameter id 0.
    void onGrpBandwidthValueChanged(int value);
    void onGrpSystemGatingBandwidthValueChanged(int value);
    void onGrpUserGatingBandwidthValueChanged(int value);
    // The entry of the test-voltage levels list, when it has exactly two.
    void onGrpTestVoltageGainValueChanged(int value);
    void onComboBox_activated(int index);
    void onSpinBox_editingFinished();
    void onDoubleSpinBox_editingFinished();

protected:
    ParameterHandler *containerFor(int id) const;
    // True while a request for the id waits for the detector.
    bool isPending(int id) const;
    // The update operation on every status change (0, 1 or -1): unless a
    // request is still pending, the control shows the confirmed value; the
    // pending mark of a tabled control follows the container, not the
    // signal, because the device confirms its user parameters inside the
    // request and the signals then arrive as 0 before 1.
    void updateParameter(int id, int status);
    // "hw H; fw F; sw S" once the detector has identified itself, else
    // "not available".
    QString versionText() const;
    // Shows the confirmed value of the id in its control; nothing here.
    virtual void refresh(int id);
    // The bandwidth choice (button ids 0 Low, 1 High) for a value: High for
    // 0.5 < value < 1.5, Low below 0.5, neither (and both disabled) from 1.5.
    static void showBandwidth(class QButtonGroup *group, double value);
    // The control of a table for the id (combo, then spin box, then
    // double-spin box), or nullptr.
    QWidget *tabledControl(int id) const;
    // Marks a tabled control while a request for its parameter is pending,
    // so the style sheet can show it.
    void setChanging(int id, bool changing);
    // Gives every combo of the combo table a list popup and connects its
    // activation.
    void connectComboTable();

    // Parameter id → control; spin boxes of m_spinBoxes show whole numbers.
    QHash<int, ComboBox *> m_combos;
    QHash<int, DoubleSpinBox *> m_spinBoxes;
    QHash<int, DoubleSpinBox *> m_doubleSpinBoxes;

    QSharedPointer<ParameterHandler> m_userContainer;
    QSharedPointer<ParameterHandler> m_deviceContainer;

private:
    const QString m_connectedText;
    const QString m_notConnectedText;
    const QString m_notAvailableText;
};
