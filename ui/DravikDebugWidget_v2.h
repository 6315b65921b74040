#pragma once

#include "DravikBaseWidget_v2.h"

#include <QScopedPointer>
#include <QVariantHash>

class Dravik_v2;
class QTreeWidgetItem;

namespace Ui {
class DravikDebugWidget_v2;
}

// The service view of the detector: every parameter in a tree, editable in
// place, a time-stamped log of link events, the socket and connection state,
// and buttons to connect, re-read all parameters and fetch the detector's log.
class DravikDebugWidget_v2 : public DravikBaseWidget_v2
{
    Q_OBJECT

public:
    // The device (not owned) supplies the parameter descriptions and the refresh.
    DravikDebugWidget_v2(Dravik_v2 *device, QSharedPointer<ParameterHandler> userContainer,
                         QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent = nullptr);
    ~DravikDebugWidget_v2() override;

Q_SIGNALS:
    void readLogFile();

public Q_SLOTS:
    void onDeviceConnected() override;
    void onDeviceDisconnected(int status) override;
    void onUserParameterStatusChanged(int parameterId, int status) override;
    void onDeviceParameterStatusChanged(int parameterId, int status) override;
    void onInspectEvent(int event, QVariantHash data);
    void on_treeParameters_itemChanged(QTreeWidgetItem *item, int column);
    void on_btnRefreshParameters_clicked();
    void on_btnReadLog_clicked();
    void on_btnClearLog_clicked();
    void on_btnCopyLog_clicked();
    void on_btnOpen_clicked();

private:
    // "General" first, then each group header as a top-level item with the
    // parameters after it as its children.
    void buildParameterTree();
    // The value column of the id's row: the requested value while pending,
    // else the confirmed one, on the colour of the container's status.
    void showParameter(int id);
    // The status the containers hold for the id now: 1, -1 or 0.
    int currentStatus(int id) const;
    void appendLog(const QString &message);

    QScopedPointer<Ui::DravikDebugWidget_v2> ui;
    Dravik_v2 *m_device = nullptr;
    bool m_connected = false;
};
