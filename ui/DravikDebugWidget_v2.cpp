#include "DravikDebugWidget_v2.h"

#include "Dravik_v2.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "ParameterText.h"
#include "ui_DravikDebugWidget_v2.h"

#include <QClipboard>
#include <QDebug>
#include <QGuiApplication>
#include <QHeaderView>
#include <QTime>

#include <algorithm>

namespace {
enum Column {
    ColumnId = 0,
    ColumnName = 1,
    ColumnValue = 2
};

// QAbstractSocket::SocketState, by number.
const char *const kSocketStates[] = {"UnconnectedState", "HostLookupState", "ConnectingState", "ConnectedState",
                                     "BoundState",       "ListeningState",  "ClosingState"};

// Bytes and states as the other widgets show them, lists by their elements,
// everything else by its string conversion.
QString valueText(int id, const QVariant &value)
{
    QString text;
    if (ParameterText::format(id, value, &text))
        return text;
    if (value.userType() != QMetaType::QVariantList)
        return value.toString();
    QStringList parts;
    for (const QVariant &element : value.toList())
        parts << element.toString();
    return parts.join(QStringLiteral(", "));
}

QColor statusColor(int status)
{
    switch (status) {
    case -100:
    case -2:
    case -1:
    case 3:
        return Qt::red;
    case 1:
    case 2:
        return Qt::yellow;
    default:
        return Qt::white;
    }
}
} // namespace

DravikDebugWidget_v2::DravikDebugWidget_v2(Dravik_v2 *device, QSharedPointer<ParameterHandler> userContainer,
                                           QSharedPointer<ParameterHandler> deviceContainer, QWidget *parent)
    : DravikBaseWidget_v2(std::move(userContainer), std::move(deviceContainer), parent)
    , ui(new Ui::DravikDebugWidget_v2)
    , m_device(device)
{
    ui->setupUi(this);
    buildParameterTree();

    // Only the value column is edited: a double click anywhere on a parameter
    // row opens the editor there, so an id can never be typed over.
    QTreeWidget *tree = ui->treeParameters;
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [tree](QTreeWidgetItem *item) {
        if (item->flags() & Qt::ItemIsEditable)
            tree->editItem(item, ColumnValue);
    });
    // Ids are at most four digits; names get a fixed width that fits nearly
    // every catalogue name, and the value takes the rest. Fixed widths,
    // because sizing to contents would re-measure the whole tree on every
    // polled value.
    const QFontMetrics metrics = fontMetrics();
    tree->header()->resizeSection(ColumnId,
                                  tree->indentation() + metrics.horizontalAdvance(QStringLiteral("00000")) + 16);
    tree->header()->resizeSection(ColumnName, metrics.horizontalAdvance(QLatin1Char('x')) * 32);
    tree->expandAll();

    refreshAll();
}

DravikDebugWidget_v2::~DravikDebugWidget_v2() = default;

void DravikDebugWidget_v2::buildParameterTree()
{
    const QSignalBlocker blocker(ui->treeParameters);
    ui->treeParameters->clear();
    auto *group = new QTreeWidgetItem(ui->treeParameters, QStringList{QString(), tr("General")});
    const QList<int> ids = m_device ? m_device->describedParameterIds() : QList<int>();
    for (int id : ids) {
        ParameterInfo info;
        m_device->parameterInfo(id, info);
        if (info.kind == ParameterCatalogue::KindGroup) {
            group = new QTreeWidgetItem(ui->treeParameters, QStringList{QString::number(id), info.name});
            continue;
        }
        auto *item = new QTreeWidgetItem(group, QStringList{QString::number(id), info.name, valueText(id, parameter(id))});
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
}

void DravikDebugWidget_v2::showParameter(int id)
{
    // The container's state, not the signal's: a request that needed no
    // change (-1) is no failure, and a request the device confirms at once
    // signals 0 before 1.
    const int status = currentStatus(id);
    const QList<QTreeWidgetItem *> found =
        ui->treeParameters->findItems(QString::number(id), Qt::MatchExactly | Qt::MatchRecursive, ColumnId);
    if (found.size() != 1)
        return;
    QVariant value = parameter(id);
    if (status == 1 || status == 2) {
        if (ParameterHandler *container = containerFor(id))
            value = container->newValue(id);
    }
    // Showing a value is no edit.
    const QSignalBlocker blocker(ui->treeParameters);
    QTreeWidgetItem *item = found.first();
    item->setBackground(ColumnValue, statusColor(status));
    // The status colours are all light: keep the text dark on any palette.
    item->setForeground(ColumnValue, QColor(Qt::black));
    item->setText(ColumnValue, valueText(id, value));
}

int DravikDebugWidget_v2::currentStatus(int id) const
{
    ParameterHandler *container = containerFor(id);
    if (!container)
        return 0;
    if (container->pendingIds().contains(id))
        return 1;
    return container->isValid(id) ? 0 : -1;
}

void DravikDebugWidget_v2::appendLog(const QString &message)
{
    ui->textLog->appendPlainText(
        QStringLiteral("[%1]: %2").arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")), message));
}

void DravikDebugWidget_v2::onDeviceConnected()
{
    ui->btnOpen->setText(tr("Disconnect"));
    ui->btnOpen->setEnabled(true);
    m_connected = true;
    ui->lblConnectionState->setText(connectedText());
    ui->widgetConnectedActions->setEnabled(true);
    ui->btnRefreshParameters->setEnabled(true);
}

void DravikDebugWidget_v2::onDeviceDisconnected(int status)
{
    Q_UNUSED(status);
    ui->btnOpen->setText(tr("Connect"));
    ui->btnOpen->setEnabled(true);
    m_connected = false;
    ui->lblConnectionState->setText(notConnectedText());
    ui->widgetConnectedActions->setEnabled(false);
    ui->btnRefreshParameters->setEnabled(false);
}

void DravikDebugWidget_v2::onUserParameterStatusChanged(int parameterId, int status)
{
    Q_UNUSED(status);
    showParameter(parameterId);
}

void DravikDebugWidget_v2::onDeviceParameterStatusChanged(int parameterId, int status)
{
    Q_UNUSED(status);
    showParameter(parameterId);
}

void DravikDebugWidget_v2::onInspectEvent(int event, QVariantHash data)
{
    const QString text = data.value(QStringLiteral("text")).toString();
    switch (event) {
    case 0:
        appendLog(text);
        break;
    case 1:
        appendLog(QStringLiteral("Warning: ") + text);
        break;
    case 2:
        appendLog(QStringLiteral("connection state (%1)").arg(text));
        break;
    case 3: {
        const int state = data.value(QStringLiteral("int")).toInt();
        const int count = int(sizeof(kSocketStates) / sizeof(kSocketStates[0]));
        const QString name = state >= 0 && state < count ? QLatin1String(kSocketStates[state]) : tr("undefined");
        ui->lblSocketState->setText(name);
        appendLog(QStringLiteral("socket state (%1)").arg(name));
        break;
    }
    default:
        break;
    }
}

void DravikDebugWidget_v2::on_treeParameters_itemChanged(QTreeWidgetItem *item, int column)
{
    if (column != ColumnValue)
        return;
    qDebug() << "[DRAVIK.DebugDialog]:" << "changed item" << column << item->text(ColumnId) << item->text(ColumnName)
             << item->text(ColumnValue);
    bool ok = false;
    const int id = item->text(ColumnId).toInt(&ok);
    if (!ok)
        return;
    const QVariant current = parameter(id);
    const QString text = item->text(ColumnValue);

    if (current.userType() != QMetaType::QVariantList) {
        // Without a confirmed value there is no type to convert to, and text
        // where the detector expects a number goes out as 0: refuse it. Bytes
        // are read back from the text they are shown as.
        QVariant converted(text);
        QString shown;
        bool ok = false;
        if (current.isValid() && ParameterText::format(id, current, &shown))
            ok = ParameterText::parse(id, text, &converted);
        else if (current.isValid())
            ok = converted.convert(current.userType());
        if (!ok) {
            qWarning() << "[DRAVIK.DebugDialog]:" << "unable to convert datatype";
            showParameter(id);
            return;
        }
        setParameter(id, converted);
        return;
    }

    const QVariantList oldList = current.toList();
    if (oldList.isEmpty()) {
        qDebug() << "[DRAVIK.DebugDialog]:" << "invalid list length" << 0;
        showParameter(id);
        return;
    }
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != oldList.size()) {
        qDebug() << "[DRAVIK.DebugDialog]:" << "invalid list length (old" << oldList.size() << "new" << parts.size()
                 << ")";
        showParameter(id);
        return;
    }
    const int elementType = oldList.first().userType();
    QVariantList newList;
    for (const QString &part : parts) {
        QVariant element(part);
        // A part that is no number would go out as a zero: refuse the whole list.
        if (!element.convert(elementType)) {
            qWarning() << "[DRAVIK.DebugDialog]:" << "unable to convert datatype";
            showParameter(id);
            return;
        }
        newList << element;
    }
    qDebug() << "[DRAVIK.DebugDialog]:" << oldList << newList;
    setParameter(id, newList);
}

void DravikDebugWidget_v2::on_btnRefreshParameters_clicked()
{
    if (m_device)
        m_device->refreshAllParameters(true);
}

void DravikDebugWidget_v2::on_btnReadLog_clicked()
{
    Q_EMIT readLogFile();
}

void DravikDebugWidget_v2::on_btnClearLog_clicked()
{
    ui->textLog->clear();
}

void DravikDebugWidget_v2::on_btnCopyLog_clicked()
{
    QGuiApplication::clipboard()->setText(ui->textLog->toPlainText());
}

void DravikDebugWidget_v2::on_btnOpen_clicked()
{
    ui->btnOpen->setEnabled(false);
    if (m_connected)
        Q_EMIT disconnectDevice();
    else
        Q_EMIT connectDevice();
}
