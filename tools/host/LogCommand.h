#pragma once

#include <QObject>
#include <QStringList>
#include <QTextStream>

// dravik-host log OUT: fetches the detector's own log through the plug-in and
// stores it in OUT, byte for byte. The path goes to the device as its
// "PdLogFile" setting; the read is started by invoking the device's slot
// onReadLogFile() by name and ends with its signal
// logFileRead(ok, filename, bytes). The detector marks the end of its log
// with an empty reply; as neither the protocol nor the plug-in has a time-out
// for it, --timeout bounds the wait.
class LogCommand : public QObject
{
    Q_OBJECT

public:
    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();

Q_SIGNALS:
    void finished();

private Q_SLOTS:
    void onLogFileRead(bool ok, QString filename, qint64 bytes);

private:
    LogCommand() = default;
    void end(int code, const QString &error);

    bool m_done = false;
    int m_code = -1;
    QString m_error;
    QString m_filename;
    qint64 m_bytes = -1;
    // The device's last warning while reading: why a read failed.
    QString m_warning;
};
