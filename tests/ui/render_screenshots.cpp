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

#include <cstdio>
#include <utility>

namespace {

// Each role in every colour group, then the disabled texts.
QPalette paletteOf(std::initializer_list<std::pair<QPalette::ColorRole, QRgb>> roles, QRgb disabledText)
{
    QPalette p;
    for (const auto &role : roles)
        p.setColor(role.first, QColor(role.second));
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(disabledText));
    return p;
}

QPalette lightPalette()
{
    return paletteOf({{QPalette::Window, 0xf4f5f7}, {QPalette::WindowText, 0x1f2328}, {QPalette::Base, 0xffffff},
                      {QPalette::AlternateBase, 0xeef0f3}, {QPalette::Text, 0x1f2328}, {QPalette::Button, 0xfbfbfc},
                      {QPalette::ButtonText, 0x1f2328}, {QPalette::Highlight, 0x1f6feb},
                      {QPalette::HighlightedText, 0xffffff}},
                     0x9aa0a6);
}

QPalette darkPalette()
{
    return paletteOf({{QPalette::Window, 0x1e2126}, {QPalette::WindowText, 0xe6e8eb}, {QPalette::Base, 0x14161a},
                      {QPalette::AlternateBase, 0x262a30}, {QPalette::Text, 0xe6e8eb}, {QPalette::Button, 0x2b2f36},
                      {QPalette::ButtonText, 0xe6e8eb}, {QPalette::Highlight, 0x3b82f6},
                      {QPalette::HighlightedText, 0xffffff}, {QPalette::Light, 0x3a3f47}, {QPalette::Midlight, 0x33373e},
                      {QPalette::Mid, 0x24272d}, {QPalette::Dark, 0x121417}, {QPalette::Shadow, 0x000000}},
                     0x6b7178);
}

// What a connected detector would have confirmed.
const Confirms &connectedValues()
{
    static const Confirms values = {
        {2000, 1e-9}, {2002, 0}, {1048, 13}, {2007, 0.25}, {2008, 50}, {1084, 0.0}, {1010, 3},
        {1171, QStringLiteral("127.0.0.1:52922")}, {1172, 5000}, {1003, QByteArray("2026-02-11 09:30")},
        {1006, 3}, {1007, 2}, {1008, 17}, {1116, le(quint64(20260042))},
        {1117, QByteArray::fromHex("001a2b3c4d5e")}, {1118, QByteArray::fromHex("c0a8dc64")},
        {1119, le(quint16(52922))}, {1120, QByteArray::fromHex("ffff0000")},
        {1121, QByteArray::fromHex("c0a8dcfe")}, {1123, le(2640.0)}, {1124, 3}};
    return values;
}

// What a detector in expert mode would have confirmed for the expert pages.
const Confirms &expertValues()
{
    static const Confirms values = {
        {2010, true}, {1011, 0x30}, {1012, 0x11}, {1013, 0x72}, {1014, 0x33}, {1015, 0x04},
        {1077, floats({0, 20})}, {1078, 20.0f}, {1071, floats({-16, -10, -4, 2})}, {1072, -16.0f},
        {1074, floats({0, 6, 12, 20})}, {1075, 12.0f}, {1080, floats({0, 10, 20, 30, 40})}, {1081, 30.0f},
        {1087, 1.0f}, {2004, true}, {1019, 1}, {1017, qulonglong(20000000)}, {1018, qulonglong(100000000)},
        {1020, qlonglong(-500000)}, {1021, qulonglong(2000000000)}, {1053, floats({20000, 500000})},
        {1054, floats({20000, 25000000})}, {1055, floats({20000, 500000})}, {1056, floats({1000, 500000})},
        {1057, floats({100000, 400000})}};
    return values;
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

template<typename Widget>
void showConnection(Widget &widget, bool connected)
{
    if (connected)
        widget.onDeviceConnected();
    else
        widget.onDeviceDisconnected(0);
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
                fixture.confirmAll(connectedValues());

            DravikControlWidget_v2 control(fixture.user, fixture.device);
            control.onSetMeasurementStates(states);
            showConnection(control, connected);
            ok &= save(&control, QSize(380, 150), dir + "/control-" + suffix);

            DravikConfigurationWidget_v2 configuration(true, true, fixture.user, fixture.device);
            showConnection(configuration, connected);
            ok &= save(&configuration, configuration.sizeHint().expandedTo(QSize(860, 0)),
                       dir + "/configuration-" + suffix);
        }
    }

    QApplication::setPalette(lightPalette());
    WidgetFixture fixture;
    fixture.confirmAll(expertValues());
    DravikExpertWidget_v2 expert(fixture.user, fixture.device);
    auto *pages = expert.findChild<QListWidget *>(QStringLiteral("listWidget"));
    for (const auto &page : {qMakePair(1, QStringLiteral("gain")), qMakePair(5, QStringLiteral("timings")),
                             qMakePair(8, QStringLiteral("filter"))}) {
        pages->setCurrentRow(page.first);
        ok &= save(&expert, QSize(640, 560), dir + "/expert-" + page.second + ".png");
    }
    return ok ? 0 : 1;
}
