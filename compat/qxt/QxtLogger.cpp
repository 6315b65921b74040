#include "QxtLogger.h"

Q_LOGGING_CATEGORY(lcDravik, "dravik")
Q_LOGGING_CATEGORY(lcDravikTrace, "dravik.trace", QtInfoMsg)

QxtLogger *QxtLogger::getInstance()
{
    static QxtLogger instance;
    return &instance;
}

QString QxtLogger::itemText(const QVariant &item)
{
    if (item.canConvert<QString>())
        return item.toString();
    QString text;
    QDebug(&text).noquote().nospace() << item;
    return text;
}

void QxtLogger::emitLine(QtMsgType type, const QLoggingCategory &category, const QString &line)
{
    // QMessageLogger keeps the category name in the context, which is what
    // message handlers (and the tests' log capture) filter on.
    QMessageLogger logger(nullptr, 0, nullptr, category.categoryName());
    const QByteArray utf8 = line.toUtf8();
    switch (type) {
    case QtDebugMsg:
        logger.debug("%s", utf8.constData());
        break;
    case QtInfoMsg:
        logger.info("%s", utf8.constData());
        break;
    case QtWarningMsg:
        logger.warning("%s", utf8.constData());
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        // An error from a device never takes the host down.
        logger.critical("%s", utf8.constData());
        break;
    }
}
