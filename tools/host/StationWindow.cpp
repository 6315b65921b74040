#include "StationWindow.h"

#include "DeviceInterface.h"
#include "ExitCode.h"
#include "LiveView.h"
#include "MeasureOptions.h"
#include "OperationModeNames.h"
#include "PluginDevice.h"
#include "ProgressPrinter.h"
#include "SessionRecording.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTime>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace {

// The device's widgets, one tab each, in this order, then the live view. The
// debug widget is not advertised by hasWidget() but is created on request all
// the same.
struct WidgetTab
{
    int kind;
    const char *name;
    const char *title;
    bool fills; // takes the whole page rather than its natural height
};
const WidgetTab kTabs[] = {
    {2, "control", "Control", false},
    {1, "configuration", "Configuration", false},
    {8, "expert", "Expert", true},
    {4, "debug", "Debug", true},
};
const char *const kLiveTab = "live";
// Closing the link may take the plug-in's socket time-out (5 s) and a little.
const int kCloseMs = 7000;
const int kMinimumWidth = 640;
const int kMinimumHeight = 480;

// Start, Stop and Record as a recorder shows them, in colours that read on a
// light and a dark toolbar alike.
enum class Shape { Triangle, Square, Circle };
QIcon shapeIcon(Shape shape, const QColor &color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    switch (shape) {
    case Shape::Triangle:
        painter.drawPolygon(QPolygonF({QPointF(3.5, 2.5), QPointF(13.5, 8), QPointF(3.5, 13.5)}));
        break;
    case Shape::Square:
        painter.drawRect(QRectF(3, 3, 10, 10));
        break;
    case Shape::Circle:
        painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        break;
    }
    return QIcon(pixmap);
}

} // namespace

StationWindow::StationWindow(PluginDevice *pluginDevice, const Options &options, QWidget *parent)
    : QMainWindow(parent)
    , m_pluginDevice(pluginDevice)
    , m_device(pluginDevice->device())
    , m_options(options)
    , m_deviceSettings(m_device->settings())
    , m_tabs(new QTabWidget)
    , m_live(new LiveView)
    , m_log(new QPlainTextEdit)
    , m_state(new QLabel)
    , m_recordState(new QLabel)
{
    setWindowTitle(QStringLiteral("Dravik \u2014 %1").arg(options.address));
    m_device->setDataTransferEnabled(true);

    for (const WidgetTab &tab : kTabs)
        m_tabs->addTab(widgetPage(tab.kind, QLatin1String(tab.name), tab.fills), QString::fromLatin1(tab.title));
    m_live->setDevice(m_device);
    m_tabs->addTab(m_live, QStringLiteral("Live"));
    setCentralWidget(m_tabs);

    m_log->setObjectName(QStringLiteral("log"));
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(5000);
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *dock = new QDockWidget(QStringLiteral("Log"));
    dock->setObjectName(QStringLiteral("logDock"));
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock->setWidget(m_log);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    resizeDocks({dock}, {130}, Qt::Vertical);

    m_state->setObjectName(QStringLiteral("state"));
    m_recordState->setObjectName(QStringLiteral("recordState"));
    // A long state or error text must not widen the window.
    m_state->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(m_state, 1);
    statusBar()->addPermanentWidget(m_recordState);
    buildToolBar();

    // By name, as the session connects: the host needs no plug-in header.
    QObject *device = pluginDevice->object();
    if (device->metaObject()->indexOfSignal("parameterChanged(QList<int>)") >= 0)
        connect(device, SIGNAL(parameterChanged(QList<int>)), m_live, SLOT(onParameterChanged(QList<int>)));
    if (device->metaObject()->indexOfSignal("openAndStartableChanged(bool)") >= 0)
        connect(device, SIGNAL(openAndStartableChanged(bool)), this, SLOT(updateControls()));

    m_statusTimer.setInterval(250);
    connect(&m_statusTimer, &QTimer::timeout, this, &StationWindow::updateStatus);
    m_statusTimer.start();
    updateControls();
    updateStatus();
    // A minimum of our own, not the layout's: the device's views grow once
    // the detector has told them what to show, and a window whose minimum
    // follows them is resized under the user's hands (and the offscreen
    // platform warns about every change).
    setMinimumSize(kMinimumWidth, kMinimumHeight);
}

StationWindow::~StationWindow()
{
    // Whatever is left of a recording goes with the window; shutDown() ends
    // it properly.
    delete m_recording;
    m_session.reset();
}

QStringList StationWindow::tabNames()
{
    QStringList names;
    for (const WidgetTab &tab : kTabs)
        names << QLatin1String(tab.name);
    return names << QLatin1String(kLiveTab);
}

QWidget *StationWindow::widgetPage(int kind, const QString &name, bool fills)
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    m_device->createWidget(kind, layout);
    if (layout->count() == 0)
        layout->addWidget(new QLabel(QStringLiteral("The device has no %1 widget.").arg(name)));
    if (!fills)
        layout->addStretch(1);
    return page;
}

void StationWindow::buildToolBar()
{
    QToolBar *bar = addToolBar(QStringLiteral("Measurement"));
    bar->setObjectName(QStringLiteral("measurementToolBar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const auto named = [](QAction *action, const char *name) {
        action->setObjectName(QLatin1String(name));
        return action;
    };
    m_connect = named(bar->addAction(style()->standardIcon(QStyle::SP_BrowserReload), QStringLiteral("Connect"),
                                     this, [this] { connectDevice(); }),
                      "connect");
    m_connect->setToolTip(QStringLiteral("Connect to %1").arg(m_options.address));
    bar->addSeparator();

    bar->addWidget(new QLabel(QStringLiteral(" Operation mode ")));
    m_operationMode = new QComboBox;
    m_operationMode->setObjectName(QStringLiteral("operationMode"));
    for (int mode = 0; !OperationModeNames::shortName(mode).isEmpty(); ++mode) {
        m_operationMode->addItem(OperationModeNames::shortName(mode), mode);
        m_operationMode->setItemData(m_operationMode->count() - 1, OperationModeNames::longName(mode), Qt::ToolTipRole);
    }
    m_operationMode->setCurrentIndex(m_operationMode->findData(m_options.operationMode));
    bar->addWidget(m_operationMode);
    bar->addWidget(new QLabel(QStringLiteral(" Measurement mode ")));
    m_measurementMode = new QComboBox;
    m_measurementMode->setObjectName(QStringLiteral("measurementMode"));
    m_measurementMode->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_measurementMode->setMinimumContentsLength(20);
    const QStringList modes = MeasureOptions::measurementModeNames();
    for (int mode = 0; mode < modes.size(); ++mode)
        m_measurementMode->addItem(QStringLiteral("%1  %2").arg(mode).arg(modes.at(mode)), mode);
    m_measurementMode->setCurrentIndex(m_measurementMode->findData(m_options.measurementMode));
    bar->addWidget(m_measurementMode);
    for (QComboBox *box : {m_operationMode, m_measurementMode}) {
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
            if (m_session)
                m_session->setQuery(query());
        });
    }
    bar->addSeparator();

    m_start = named(bar->addAction(shapeIcon(Shape::Triangle, QColor(0x2e, 0xa0, 0x43)), QStringLiteral("Start"), this,
                                   [this] { startMeasurement(); }),
                    "start");
    m_stop = named(bar->addAction(shapeIcon(Shape::Square, QColor(0x5b, 0x8d, 0xd6)), QStringLiteral("Stop"), this,
                                  [this] { stopMeasurement(); }),
                   "stop");
    bar->addSeparator();

    bar->addWidget(new QLabel(QStringLiteral(" Record to ")));
    m_path = new QLineEdit;
    m_path->setObjectName(QStringLiteral("recordPath"));
    m_path->setPlaceholderText(QStringLiteral("recording.h5"));
    m_path->setMinimumWidth(160);
    connect(m_path, &QLineEdit::textEdited, this, [this] { m_overwriteConfirmed = false; });
    bar->addWidget(m_path);
    m_browse = named(bar->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QStringLiteral("Browse"), this,
                                    [this] { browse(); }),
                     "browse");
    m_record = named(bar->addAction(shapeIcon(Shape::Circle, QColor(0xd0, 0x30, 0x30)), QStringLiteral("Record")),
                     "record");
    m_record->setCheckable(true);
    m_record->setToolTip(QStringLiteral("Record the measurements to the file until Record is turned off"));
    connect(m_record, &QAction::triggered, this, [this](bool on) {
        if (!setRecording(on))
            m_record->setChecked(isRecording());
    });
}

QAction *StationWindow::action(const QString &name) const
{
    return findChild<QAction *>(name);
}

HostQuery StationWindow::query() const
{
    // What `measure` hands over for --operation-mode and --measurement-mode
    // alone: the device keeps its own value of everything else.
    HostQuery q(m_measurementMode->currentData().toInt(), std::numeric_limits<unsigned>::max());
    q.set(AbstractQueryObject::KeyOperationMode, m_operationMode->currentData().toInt());
    return q;
}

bool StationWindow::measuring() const
{
    if (!m_session)
        return false;
    switch (m_session->state()) {
    case DeviceSession::State::Starting:
    case DeviceSession::State::Running:
    case DeviceSession::State::Stopping:
    case DeviceSession::State::Draining:
        return true;
    default:
        return false;
    }
}

bool StationWindow::connectDevice()
{
    if (!m_connect->isEnabled())
        return false;
    m_session.reset();
    m_report = std::make_unique<RunReport>();
    m_error.clear();
    DeviceSession::Config config;
    config.interactive = true;
    config.timeoutMs = m_options.timeoutMs;
    config.address = m_options.address;
    m_session = std::make_unique<DeviceSession>(m_pluginDevice->object(), query(), config, m_report.get());
    QString error;
    if (!m_session->attach(&error)) {
        m_session.reset();
        m_error = error;
        log(QStringLiteral("error: %1").arg(error));
        updateControls();
        updateStatus();
        return false;
    }
    DeviceSession *session = m_session.get();
    connect(session, &DeviceSession::stateChanged, this, &StationWindow::onSessionState);
    connect(session, &DeviceSession::progress, this, &StationWindow::log);
    connect(session, &DeviceSession::notified, this, [this](int severity, const QString &text) {
        log(QStringLiteral("device %1: %2").arg(ProgressPrinter::severityName(severity), text));
    });
    connect(session, &DeviceSession::chunkTaken, m_live, &LiveView::showChunk);
    connect(session, &DeviceSession::measurementBegins, m_live, &LiveView::clearReadouts);
    connect(session, &DeviceSession::finished, this, &StationWindow::onSessionFinished);
    session->begin();
    updateControls();
    updateStatus();
    return true;
}

bool StationWindow::startMeasurement()
{
    return m_start->isEnabled() && m_session->requestStart();
}

bool StationWindow::stopMeasurement()
{
    return m_stop->isEnabled() && m_session->requestStop();
}

QString StationWindow::recordPath() const
{
    return m_path->text().trimmed();
}

void StationWindow::setRecordPath(const QString &path)
{
    m_path->setText(path);
    m_overwriteConfirmed = false;
}

void StationWindow::browse()
{
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Record to"), recordPath(),
                                                        QStringLiteral("HDF5 recordings (*.h5);;All files (*)"));
    if (chosen.isEmpty())
        return;
    m_path->setText(chosen);
    // The dialog asked before it let an existing file be chosen.
    m_overwriteConfirmed = QFileInfo::exists(chosen);
}

bool StationWindow::setRecording(bool on)
{
    if (on == isRecording())
        return true;
    if (!m_record->isEnabled())
        return false;
    if (!on) {
        endRecording(false, ExitOk, QString());
        return true;
    }
    if (recordPath().isEmpty())
        browse();
    if (recordPath().isEmpty())
        return false;
    const QString path = QFileInfo(recordPath()).absoluteFilePath();
    const auto refuse = [this](const QString &why) {
        m_error = why;
        log(QStringLiteral("not recording: %1").arg(why));
        updateStatus();
        return false;
    };
    if (QFileInfo(path).isDir())
        return refuse(QStringLiteral("%1 is a directory").arg(path));
    if (QFileInfo::exists(path) && !m_overwriteConfirmed)
        return refuse(QStringLiteral("%1 exists; choose another file, or choose it with Browse to replace it").arg(path));
    auto *recording = new SessionRecording(m_session.get(), m_report.get(), path, this);
    QString error;
    if (!recording->open(&error)) {
        delete recording;
        return refuse(error);
    }
    m_recording = recording;
    m_recordingStarted = QDateTime::currentDateTimeUtc();
    m_error.clear();
    connect(recording, &SessionRecording::failed, this,
            [this](const QString &e) { endRecording(true, ExitOutputFailed, e); });
    connect(recording, &SessionRecording::measurementRecorded, this, [this](const RunReport::Measurement &m) {
        log(QStringLiteral("recorded measurement %1: %2").arg(m.index).arg(ProgressPrinter::measurementDone(m)));
        updateStatus();
    });
    log(QStringLiteral("recording to %1 (as %2 until Record is turned off)").arg(path, recording->temporaryPath()));
    updateControls();
    updateStatus();
    return true;
}

RunReport StationWindow::recordingHeader() const
{
    RunReport h;
    h.hostVersion = QStringLiteral(DRAVIK_VERSION);
    h.createdAt = m_recordingStarted;
    h.address = m_options.address;
    h.simulated = m_options.simulated;
    // Measurements run until the user stops them.
    h.durationSeconds = std::nan("");
    h.plugin = m_pluginDevice->description();
    h.device = m_report->device;
    h.postProcessing = m_report->postProcessing;
    // The modes are locked while recording: the session's environment is
    // that of every recorded measurement.
    h.environment = m_session->query().describe();
    h.settings = m_options.settings;
    h.deviceSettings = m_deviceSettings;
    return h;
}

void StationWindow::endRecording(bool failed, int exitCode, const QString &reason)
{
    SessionRecording *recording = m_recording;
    if (!recording)
        return;
    m_recording = nullptr;
    QString why = reason;
    if (!failed && recording->isRecording()) {
        // The link went while a measurement was recorded.
        failed = true;
        why = QStringLiteral("the measurement was cut short when the link was closed");
    }
    const RunReport header = recordingHeader();
    QString error;
    bool written = false;
    if (failed) {
        written = recording->keep(header, exitCode, why, &error);
    } else {
        written = recording->commit(header, &error);
        if (!written)
            recording->discard();
    }
    RunReport summary = recording->recorded(header);
    summary.count = summary.measurements.size();
    summary.fileWritten = written;
    summary.exitCode = failed ? exitCode : ExitOk;
    summary.error = failed ? why : QString();
    const QString path = recording->path();
    if (!written)
        log(QStringLiteral("nothing written to %1: %2").arg(path, error));
    else if (failed)
        log(QStringLiteral("kept %1 measurement(s) in %2, marked incomplete: %3").arg(summary.count).arg(path, why));
    else
        log(QStringLiteral("written %1").arg(path));
    if (written)
        log(ProgressPrinter::summary(summary));
    // Out of the signal that may have brought the end.
    recording->deleteLater();
    Q_EMIT recordingEnded(written, path);
    updateControls();
    updateStatus();
}

void StationWindow::onSessionState(DeviceSession::State state)
{
    updateControls();
    updateStatus();
    Q_EMIT sessionStateChanged(state);
}

void StationWindow::onSessionFinished(int exitCode)
{
    if (exitCode != ExitOk) {
        m_error = m_session->errorString();
        log(QStringLiteral("error: %1").arg(m_error));
    }
    if (m_recording)
        endRecording(exitCode != ExitOk, exitCode, m_error);
    updateControls();
    updateStatus();
    Q_EMIT sessionFinished(exitCode);
}

void StationWindow::updateControls()
{
    using State = DeviceSession::State;
    const State state = m_session ? m_session->state() : State::Finished;
    const bool open = state == State::Open;
    const bool idle = !measuring();
    m_connect->setEnabled(state == State::Finished);
    m_operationMode->setEnabled(idle && !isRecording());
    m_measurementMode->setEnabled(idle && !isRecording());
    m_start->setEnabled(open && m_device->isOpenAndStartable());
    m_stop->setEnabled(state == State::Starting || state == State::Running);
    m_record->setEnabled(isRecording() ? idle : open);
    m_record->setChecked(isRecording());
    m_path->setEnabled(!isRecording());
    m_browse->setEnabled(!isRecording());
}

void StationWindow::updateStatus()
{
    using State = DeviceSession::State;
    QString text;
    bool error = false;
    switch (m_session ? m_session->state() : State::Finished) {
    case State::Idle:
    case State::Connecting:
        text = QStringLiteral("connecting to %1 ...").arg(m_options.address);
        break;
    case State::Configuring:
        text = QStringLiteral("connected to %1, reading the detector ...").arg(m_options.address);
        break;
    case State::Open:
        text = m_device->isOpenAndStartable()
                   ? QStringLiteral("connected to %1: ready to start").arg(m_options.address)
                   : QStringLiteral("connected to %1: the detector cannot start now").arg(m_options.address);
        break;
    case State::Starting:
    case State::Running:
    case State::Stopping:
    case State::Draining:
        text = ProgressPrinter::statusText(m_session->stateName(), *m_report, m_session->measurementSeconds());
        break;
    case State::Closing:
        text = QStringLiteral("closing the link");
        break;
    case State::Finished:
        error = !m_error.isEmpty();
        text = error ? QStringLiteral("error: %1").arg(m_error) : QStringLiteral("not connected");
        break;
    }
    if (!error && !m_error.isEmpty()) {
        // A refusal of the toolbar (a file that exists) stays until the next action.
        text += QStringLiteral("  \u2014  %1").arg(m_error);
        error = true;
    }
    m_state->setText(text);
    m_state->setStyleSheet(error ? QStringLiteral("color: #d03030;") : QString());
    m_recordState->setText(m_recording ? QStringLiteral("recording to %1: %2 measurement(s)")
                                             .arg(QFileInfo(m_recording->path()).fileName())
                                             .arg(m_recording->measurementCount())
                                       : QString());
}

QString StationWindow::statusText() const
{
    return m_state->text();
}

QString StationWindow::logText() const
{
    return m_log->toPlainText();
}

void StationWindow::log(const QString &line)
{
    Q_EMIT logged(line);
    m_log->appendPlainText(QStringLiteral("%1  %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), line));
}

bool StationWindow::waitFor(const std::function<bool()> &done)
{
    const qint64 limit = 2 * qint64(m_options.timeoutMs) + kCloseMs;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(50);
    while (!done()) {
        if (clock.elapsed() > limit)
            return false;
        loop.exec();
    }
    return true;
}

void StationWindow::shutDown()
{
    if (!m_session)
        return;
    using State = DeviceSession::State;
    const auto state = [this] { return m_session->state(); };
    // A measurement being recorded ends as one the user stopped.
    if (measuring()) {
        m_session->requestStop();
        waitFor([&] { return state() == State::Open || state() == State::Finished; });
    }
    if (m_recording && state() == State::Open)
        endRecording(false, ExitOk, QString());
    if (state() != State::Finished) {
        m_session->abort(ExitOk, QStringLiteral("the window was closed"));
        waitFor([&] { return state() == State::Finished; });
    }
    m_statusTimer.stop();
}
