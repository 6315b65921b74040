#pragma once

#include "DeviceSession.h"
#include "HostQuery.h"
#include "RunReport.h"

#include <QDateTime>
#include <QMainWindow>
#include <QTimer>
#include <QVariantHash>

#include <functional>
#include <memory>

class DeviceInterface;
class LiveView;
class PluginDevice;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class SessionRecording;

// dravik-host gui's window: a measurement station for one detector.
//
// - The toolbar: Connect, operation mode and measurement mode, Start, Stop,
//   the recording's file and Record. Each control is enabled only when it can
//   act (Start: connected, idle and the device startable; Stop: a measurement
//   starting or running; Record: connected and idle; the modes: no
//   measurement and no recording, so that a file holds one environment).
// - Tabs: the device's four widgets and the live view.
// - The status bar: the session's state, its error, the recording.
// - A log pane: what the session did and the device's notifications.
//
// One DeviceSession (interactive) holds the conversation with the detector;
// Connect begins a new one after a failure has ended the last. Record writes
// the measurements run while it is on to one HDF5 file (SessionRecording,
// the layout and partial-file rename of `measure`); turning it off commits
// the file and logs the summary. A session that fails while recording (a
// start that fails, a lost link) keeps the measurements recorded so far in
// the file, marked incomplete.
class StationWindow : public QMainWindow
{
    Q_OBJECT

public:
    struct Options
    {
        QString address;
        int timeoutMs = 15000;
        bool simulated = false;   // recordings are marked as made against dravik-sim
        QVariantHash settings;    // what the device was given, with the address
        int operationMode = 0;
        int measurementMode = 0;
    };

    // pluginDevice is created and configured with the address, and outlives
    // the window.
    StationWindow(PluginDevice *pluginDevice, const Options &options, QWidget *parent = nullptr);
    ~StationWindow() override;

    // "control", "configuration", "expert", "debug", "live", in tab order.
    static QStringList tabNames();
    QTabWidget *tabs() const { return m_tabs; }
    LiveView *liveView() const { return m_live; }
    // The current session; null before the first connect.
    DeviceSession *session() const { return m_session.get(); }
    // The control called name ("connect", "start", "stop", "record", ...).
    QAction *action(const QString &name) const;

    // What the toolbar does; each refuses (false) when its control is disabled.
    bool connectDevice();
    bool startMeasurement();
    bool stopMeasurement();
    // Record on (to the path in the toolbar's file field) and off.
    bool setRecording(bool on);
    bool isRecording() const { return m_recording != nullptr; }
    QString recordPath() const;
    void setRecordPath(const QString &path);

    QString statusText() const;
    QString logText() const;
    // Stops a measurement, ends the recording and closes the link; every wait
    // is bounded by the time-out.
    void shutDown();

Q_SIGNALS:
    void sessionStateChanged(DeviceSession::State state);
    void sessionFinished(int exitCode);
    // Record went off: the file was written (complete or not), or not.
    void recordingEnded(bool written, const QString &path);
    // A line of the log pane.
    void logged(const QString &line);

private Q_SLOTS:
    void updateControls();

private:
    void buildToolBar();
    QWidget *widgetPage(int kind, const QString &name, bool fills);
    HostQuery query() const;
    RunReport recordingHeader() const;
    void onSessionState(DeviceSession::State state);
    void onSessionFinished(int exitCode);
    void endRecording(bool failed, int exitCode, const QString &reason);
    void browse();
    void log(const QString &line);
    void updateStatus();
    bool measuring() const;
    bool waitFor(const std::function<bool()> &done);

    PluginDevice *m_pluginDevice;
    DeviceInterface *m_device;
    Options m_options;
    QVariantHash m_deviceSettings;

    std::unique_ptr<RunReport> m_report;
    std::unique_ptr<DeviceSession> m_session;
    SessionRecording *m_recording = nullptr;
    QDateTime m_recordingStarted;
    bool m_overwriteConfirmed = false;
    QString m_error;

    QTabWidget *m_tabs;
    LiveView *m_live;
    QPlainTextEdit *m_log;
    QLabel *m_state;
    QLabel *m_recordState;
    QComboBox *m_operationMode;
    QComboBox *m_measurementMode;
    QLineEdit *m_path;
    QAction *m_connect;
    QAction *m_start;
    QAction *m_stop;
    QAction *m_record;
    QAction *m_browse;
    QTimer m_statusTimer;
};
