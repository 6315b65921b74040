// Renders the control and the configuration widget offscreen, connected and
// not connected, in a light and a dark palette, and three pages of the expert
// widget, for docs/screenshots.
//
//     QT_QPA_PLATFORM=offscreen dravik-ui-screenshots docs/screenshots

#include "DravikConfigurationWidget_v2.h"
#include "DravikControlWidget_v2.h"
#include "DravikExpertWidget_v2.h"
#include "WidgetFixture.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPalette>
#include <QStyleFactory>
#include <QtEndian>

#include <cstdio>

namespace {

QPalette lightPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0xf4, 0xf5, 0xf7));
    p.setColor(QPalette::WindowText, QColor(0x1f, 0x23, 0x28));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xee, 0xf0, 0xf3));
    p.setColor(QPalette::Text, QColor(0x1f, 0x23, 0x28));
    p.setColor(QPalette::Button, QColor(0xfb, 0xfb, 0xfc));
    p.setColor(QPalette::ButtonText, QColor(0x1f, 0x23, 0x28));
    p.setColor(QPalette::Highlight, QColor(0x1f, 0x6f, 0xeb));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9a, 0xa0, 0xa6));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9a, 0xa0, 0xa6));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9a, 0xa0, 0xa6));
    return p;
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1e, 0x21, 0x26));
    p.setColor(QPalette::WindowText, QColor(0xe6, 0xe8, 0xeb));
    p.setColor(QPalette::Base, QColor(0x14, 0x16, 0x1a));
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x2a, 0x30));
    p.setColor(QPalette::Text, QColor(0xe6, 0xe8, 0xeb));
    p.setColor(QPalette::Button, QColor(0x2b, 0x2f, 0x36));
    p.setColor(QPalette::ButtonText, QColor(0xe6, 0xe8, 0xeb));
    p.setColor(QPalette::Highlight, QColor(0x3b, 0x82, 0xf6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x3a, 0x3f, 0x47));
    p.setColor(QPalette::Midlight, QColor(0x33, 0x37, 0x3e));
    p.setColor(QPalette::Mid, QColor(0x24, 0x27, 0x2d));
    p.setColor(QPalette::Dark, QColor(0x12, 0x14, 0x17));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6b, 0x71, 0x78));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6b, 0x71, 0x78));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6b, 0x71, 0x78));
    return p;
}

QByteArray le16(quint16 v)
{
    QByteArray b(2, Qt::Uninitialized);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le64(quint64 v)
{
    QByteArray b(8, Qt::Uninitialized);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray leDouble(double v)
{
    QByteArray b(8, Qt::Uninitialized);
    qToLittleEndian(v, b.data());
    return b;
}

// What a connected detector would have confirmed.
void fill(const WidgetFixture &f)
{
    f.confirm(2000, 1e-9);
    f.confirm(2002, 0);
    f.confirm(1048, 13);
    f.confirm(2007, 0.25);
    f.confirm(2008, 50);
    f.confirm(1084, 0.0);
    f.confirm(1010, 3);
    f.confirm(1171, QStringLiteral("127.0.0.1:52922"));
    f.confirm(1172, 5000);
    f.confirm(1003, QByteArray("2026-02-11 09:30"));
    f.confirm(1006, 3);
    f.confirm(1007, 2);
    f.confirm(1008, 17);
    f.confirm(1116, le64(20260042));
    f.confirm(1117, QByteArray::fromHex("001a2b3c4d5e"));
    f.confirm(1118, QByteArray::fromHex("c0a8dc64"));
    f.confirm(1119, le16(52922));
    f.confirm(1120, QByteArray::fromHex("ffff0000"));
    f.confirm(1121, QByteArray::fromHex("c0a8dcfe"));
    f.confirm(1123, leDouble(2640.0));
    f.confirm(1124, 3);
}

// What a detector in expert mode would have confirmed for the expert pages.
void fillExpert(const WidgetFixture &f)
{
    f.confirm(2010, true);
    f.confirm(1011, 0x30); // muxer configured and measuring
    f.confirm(1012, 0x11);
    f.confirm(1013, 0x72);
    f.confirm(1014, 0x33);
    f.confirm(1015, 0x04);
    f.confirm(1077, QVariantList{0.0f, 20.0f});
    f.confirm(1078, 20.0f);
    f.confirm(1071, QVariantList{-16.0f, -10.0f, -4.0f, 2.0f});
    f.confirm(1072, -16.0f);
    f.confirm(1074, QVariantList{0.0f, 6.0f, 12.0f, 20.0f});
    f.confirm(1075, 12.0f);
    f.confirm(1080, QVariantList{0.0f, 10.0f, 20.0f, 30.0f, 40.0f});
    f.confirm(1081, 30.0f);
    f.confirm(1087, 1.0f);
    f.confirm(2004, true);
    f.confirm(1019, 1);
    f.confirm(1017, qulonglong(20000000));
    f.confirm(1018, qulonglong(100000000));
    f.confirm(1020, qlonglong(-500000));
    f.confirm(1021, qulonglong(2000000000));
    f.confirm(1053, QVariantList{20000.0f, 500000.0f});
    f.confirm(1054, QVariantList{20000.0f, 25000000.0f});
    f.confirm(1055, QVariantList{20000.0f, 500000.0f});
    f.confirm(1056, QVariantList{1000.0f, 500000.0f});
    f.confirm(1057, QVariantList{100000.0f, 400000.0f});
}

bool save(QWidget *widget, const QSize &size, const QString &path)
{
    widget->resize(size);
    widget->show();
    QApplication::processEvents();
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font = QApplication::font();
    font.setPointSize(10);
    QApplication::setFont(font);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);

    const QHash<int, QString> states = {{0, "Not ready"}, {1, "Ready"},      {2, "Starting"},
                                        {3, "Running"},   {4, "Stopping"},   {5, "Acquisition terminated"},
                                        {6, "Timed out"}, {7, "Transferring"}};
    bool ok = true;
    for (const auto &theme : {qMakePair(QStringLiteral("light"), lightPalette()),
                              qMakePair(QStringLiteral("dark"), darkPalette())}) {
        QApplication::setPalette(theme.second);
        for (bool connected : {true, false}) {
            const QString suffix = theme.first + (connected ? "-connected" : "-not-connected") + ".png";
            WidgetFixture fixture;
            if (connected)
                fill(fixture);

            DravikControlWidget_v2 control(fixture.user, fixture.device);
            control.onSetMeasurementStates(states);
            if (connected)
                control.onDeviceConnected();
            else
                control.onDeviceDisconnected(0);
            ok &= save(&control, QSize(380, 150), dir + "/control-" + suffix);

            DravikConfigurationWidget_v2 configuration(true, true, fixture.user, fixture.device);
            if (connected)
                configuration.onDeviceConnected();
            else
                configuration.onDeviceDisconnected(0);
            ok &= save(&configuration, configuration.sizeHint().expandedTo(QSize(860, 0)),
                       dir + "/configuration-" + suffix);
        }
    }

    QApplication::setPalette(lightPalette());
    WidgetFixture fixture;
    fillExpert(fixture);
    DravikExpertWidget_v2 expert(fixture.user, fixture.device);
    auto *pages = expert.findChild<QListWidget *>(QStringLiteral("listWidget"));
    for (const auto &page : {qMakePair(1, QStringLiteral("gain")), qMakePair(5, QStringLiteral("timings")),
                             qMakePair(8, QStringLiteral("filter"))}) {
        pages->setCurrentRow(page.first);
        ok &= save(&expert, QSize(640, 560), dir + "/expert-" + page.second + ".png");
    }
    return ok ? 0 : 1;
}
