#include "CheckBox.h"
#include "ComboBox.h"
#include "ControlStyle.h"
#include "DoubleSpinBox.h"
#include "Label.h"
#include "LogCapture.h"
#include "PushButton.h"
#include "RadioButton.h"
#include "StateLedWidget_v2.h"
#include "StateLed_v2.h"

#include <QBoxLayout>
#include <QIntValidator>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

class tst_Controls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void infoText_data();
    void infoText();
    void pushButtonToolTip();
    void tintKeepsAlpha();
    void indicatorsAreLoaded();
    void indicatorFollowsPalette();
    void checkBoxIndicator_data();
    void checkBoxIndicator();
    void radioButtonIndicator();
    void radioButtonTextKeepsShortcut();
    void spinBoxBoundsInEitherOrder_data();
    void spinBoxBoundsInEitherOrder();
    void spinBoxIntegerSignals();
    void spinBoxValidInput();
    void spinBoxLongPressRepeats();
    void spinBoxPressAwayFromEdgesDoesNotRepeat();
    void spinBoxArrowGeometry();
    void decimalSeparatorFollowsLocale_data();
    void decimalSeparatorFollowsLocale();
    void splitButton();
    void splitButtonTakesMenuAction();
    void comboArrow();
    void comboValidInputUsesValidationRole();
    void labelLinkColour_data();
    void labelLinkColour();
    void labelLinkColorProperty();
    void labelCheckable();
    void labelNotCheckable();
    void ledMask_data();
    void ledMask();
    void ledRowLayout();
};

void tst_Controls::infoText_data()
{
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");

    const QString keys = QKeySequence(Qt::CTRL + Qt::Key_S).toString(QKeySequence::NativeText);
    QTest::newRow("nothing") << QKeySequence() << QString() << QString() << QString();
    QTest::newRow("caption only") << QKeySequence() << "Save" << QString()
                                  << "<table><tr><td>Save</td></tr></table>";
    QTest::newRow("caption and shortcut")
        << QKeySequence(Qt::CTRL + Qt::Key_S) << "Save" << QString()
        << "<table><tr><td>Save&nbsp;&nbsp;</td><td>" + keys + "</td></tr></table>";
    QTest::newRow("description only") << QKeySequence() << QString() << "Writes it."
                                      << "<b align=\"justify\">Writes it.</b>";
    QTest::newRow("description and caption")
        << QKeySequence() << "Save" << "Writes it."
        << "<big><b>Save</b></big><br><p align=\"justify\">Writes it.</p>";
    QTest::newRow("description and shortcut")
        << QKeySequence(Qt::CTRL + Qt::Key_S) << QString() << "Writes it."
        << "<big><b>" + keys + "</b></big><br><p align=\"justify\">Writes it.</p>";
    QTest::newRow("description, caption and shortcut")
        << QKeySequence(Qt::CTRL + Qt::Key_S) << "Save" << "Writes it."
        << "<table><tr><td><big><b>Save&nbsp;&nbsp;&nbsp;<br></b></big></td><td align=\"right\">(<big>" + keys
               + "</big>)</td></tr><tr><td colspan=\"2\" align=\"justify\">Writes it.</td></tr></table>";
}

void tst_Controls::infoText()
{
    QFETCH(QKeySequence, shortcut);
    QFETCH(QString, caption);
    QFETCH(QString, description);
    QFETCH(QString, expected);
    QCOMPARE(ControlStyle::infoText(shortcut, caption, description), expected);
}

void tst_Controls::pushButtonToolTip()
{
    PushButton button;
    button.setShortcut(QKeySequence(Qt::CTRL + Qt::Key_U));
    button.setText(QStringLiteral("Update"));
    QVERIFY(button.toolTip().startsWith("<table><tr><td>Update&nbsp;&nbsp;</td><td>"));
    QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL + Qt::Key_U));

    button.setWhatsThis(QStringLiteral("Sends the file."));
    button.setText(QStringLiteral("Update"));
    QVERIFY(button.toolTip().startsWith("<table><tr><td><big><b>Update&nbsp;&nbsp;&nbsp;<br>"));
    QVERIFY(button.toolTip().endsWith("Sends the file.</td></tr></table>"));

    // Without text the fallback caption heads the tool tip.
    PushButton iconOnly;
    iconOnly.setFallbackCaption(QStringLiteral("Connect"));
    QCOMPARE(iconOnly.toolTip(), QStringLiteral("<table><tr><td>Connect</td></tr></table>"));
}

void tst_Controls::tintKeepsAlpha()
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 255));
    image.setPixel(1, 0, qRgba(0, 0, 0, 0));
    const QImage tinted = ControlStyle::tinted(image, QColor(200, 10, 20)).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(QColor::fromRgba(tinted.pixel(0, 0)), QColor(200, 10, 20));
    QCOMPARE(qAlpha(tinted.pixel(1, 0)), 0);

    // An icon keeps every size and gets the colour in every mode.
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(image));
    const QIcon tintedIcon = ControlStyle::tinted(icon, Qt::blue);
    QCOMPARE(tintedIcon.availableSizes(), icon.availableSizes());
    const QImage disabled = tintedIcon.pixmap(QSize(2, 1), QIcon::Disabled).toImage();
    QCOMPARE(QColor(disabled.pixel(0, 0)).rgb(), QColor(Qt::blue).rgb());
}

void tst_Controls::indicatorsAreLoaded()
{
    const char *paths[] = {":/icons/default/misc/checkbox_checked.png", ":/icons/default/misc/checkbox_unchecked.png",
                           ":/icons/default/arrows/down.png", ":/icons/default/arrows/up.png",
                           ":/icons/default/misc/disconnected-64.png", ":/icons/default/misc/info.png"};
    for (const char *path : paths) {
        const QPixmap pixmap = ControlStyle::tintedResource(QString::fromLatin1(path), Qt::black);
        QVERIFY2(!pixmap.isNull(), path);
        QVERIFY2(pixmap.hasAlphaChannel(), path);
    }
}

// True if some pixel inside the rectangle is mostly of the colour.
static bool showsColour(const QImage &image, const QRect &rect, const QColor &colour)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - colour.red()) < 40 && qAbs(pixel.green() - colour.green()) < 40
                && qAbs(pixel.blue() - colour.blue()) < 40)
                return true;
        }
    }
    return false;
}

void tst_Controls::indicatorFollowsPalette()
{
    CheckBox box(QStringLiteral("Gating"));
    box.resize(120, 24);
    QPalette palette = box.palette();
    palette.setColor(QPalette::ButtonText, QColor(220, 0, 0));
    box.setPalette(palette);
    QVERIFY(showsColour(box.grab().toImage(), box.indicatorRect(), QColor(220, 0, 0)));

    palette.setColor(QPalette::ButtonText, QColor(0, 0, 230));
    box.setPalette(palette);
    const QImage blue = box.grab().toImage();
    QVERIFY(showsColour(blue, box.indicatorRect(), QColor(0, 0, 230)));
    QVERIFY(!showsColour(blue, box.indicatorRect(), QColor(220, 0, 0)));
}

void tst_Controls::checkBoxIndicator_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<Qt::LayoutDirection>("direction");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("20 high") << 120 << 20 << Qt::LeftToRight << QRect(2, 2, 18, 18);
    QTest::newRow("50 high") << 120 << 50 << Qt::LeftToRight << QRect(2, 10, 32, 32);
    QTest::newRow("right to left") << 120 << 20 << Qt::RightToLeft << QRect(100, 2, 18, 18);
    QTest::newRow("too narrow for right to left") << 10 << 20 << Qt::RightToLeft << QRect(0, 2, 18, 18);
}

void tst_Controls::checkBoxIndicator()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(Qt::LayoutDirection, direction);
    QFETCH(QRect, expected);
    CheckBox box(QStringLiteral("Multiple"));
    box.setLayoutDirection(direction);
    box.resize(width, height);
    QCOMPARE(box.indicatorRect(), expected);
}

void tst_Controls::radioButtonIndicator()
{
    RadioButton radio(QStringLiteral("High"));
    radio.setLayoutDirection(Qt::RightToLeft);
    radio.resize(120, 50);
    QCOMPARE(radio.indicatorRect(), QRect(2, 2, 32, 32));
}

void tst_Controls::radioButtonTextKeepsShortcut()
{
    RadioButton radio;
    radio.setShortcut(QKeySequence(Qt::ALT + Qt::Key_H));
    radio.setText(QStringLiteral("High"));
    QCOMPARE(radio.shortcut(), QKeySequence(Qt::ALT + Qt::Key_H));
    QVERIFY(radio.toolTip().startsWith("<table><tr><td>High&nbsp;&nbsp;</td><td>"));
}

void tst_Controls::spinBoxBoundsInEitherOrder_data()
{
    QTest::addColumn<double>("bound1");
    QTest::addColumn<double>("bound2");
    QTest::newRow("ascending") << 0.0 << 10.0;
    QTest::newRow("descending") << 10.0 << 0.0;
}

void tst_Controls::spinBoxBoundsInEitherOrder()
{
    QFETCH(double, bound1);
    QFETCH(double, bound2);
    DoubleSpinBox spin(bound1, bound2, 4.0, 0.5);
    QCOMPARE(spin.minimum(), 0.0);
    QCOMPARE(spin.maximum(), 10.0);
    QCOMPARE(spin.value(), 4.0);
    QCOMPARE(spin.singleStep(), 0.5);
}

void tst_Controls::spinBoxIntegerSignals()
{
    DoubleSpinBox spin(0, 100, 0, 1);
    QSignalSpy ints(&spin, qOverload<int>(&DoubleSpinBox::valueChanged));
    spin.setValue(-0.0);
    spin.setValue(2.7);
    QCOMPARE(ints.count(), 1);
    QCOMPARE(ints.at(0).at(0).toInt(), 2);

    QList<QString> order;
    connect(&spin, qOverload<QString>(&DoubleSpinBox::editingFinished), this, [&](QString text) { order << "text " + text; });
    connect(&spin, qOverload<double>(&DoubleSpinBox::editingFinished), this,
            [&](double value) { order << "double " + QString::number(value); });
    connect(&spin, qOverload<int>(&DoubleSpinBox::editingFinished), this,
            [&](int value) { order << "int " + QString::number(value); });
    spin.onEditingFinished();
    QCOMPARE(order, QList<QString>({"text " + spin.text(), "double 2.7", "int 2"}));
}

void tst_Controls::spinBoxValidInput()
{
    DoubleSpinBox spin(0, 100, 5, 1);
    spin.setDecimals(1);
    QIntValidator validator(0, 9);
    spin.setValidator(&validator);
    QCOMPARE(spin.property("validInput").toBool(), false); // "5.0" is no integer
    spin.setDecimals(0);
    spin.setValue(6);
    QCOMPARE(spin.property("validInput").toBool(), true);
    spin.setValue(12);
    QCOMPARE(spin.property("validInput").toBool(), false);
}

void tst_Controls::spinBoxLongPressRepeats()
{
    DoubleSpinBox spin(0, 1000, 0, 1);
    spin.resize(200, 32);
    spin.show();
    QVERIFY(QTest::qWaitForWindowExposed(&spin));

    const QPoint nearRightEdge(spin.width() - 10, spin.height() / 2);
    QTest::mousePress(&spin, Qt::LeftButton, Qt::NoModifier, nearRightEdge);
    QVERIFY(spin.isLongPressActive());
    const double afterPress = spin.value();
    QVERIFY(afterPress >= 1.0);
    // Each tick releases and presses again, which steps once.
    spin.onLongPressTimer();
    QVERIFY(spin.value() > afterPress);
    // Held on, the value keeps growing while the timer runs.
    const double held = spin.value();
    QTRY_VERIFY_WITH_TIMEOUT(spin.value() > held, 2500);
    QVERIFY(spin.isLongPressActive());
    QTest::mouseRelease(&spin, Qt::LeftButton, Qt::NoModifier, nearRightEdge);
    QVERIFY(!spin.isLongPressActive());
    const double released = spin.value();
    QTest::qWait(0);
    QCOMPARE(spin.value(), released);

    // Holding near the left edge steps down.
    const QPoint nearLeftEdge(10, spin.height() / 2);
    QTest::mousePress(&spin, Qt::LeftButton, Qt::NoModifier, nearLeftEdge);
    QVERIFY(spin.isLongPressActive());
    QVERIFY(spin.value() < released);
    QTest::mouseRelease(&spin, Qt::LeftButton, Qt::NoModifier, nearLeftEdge);
    QVERIFY(!spin.isLongPressActive());
}

void tst_Controls::spinBoxPressAwayFromEdgesDoesNotRepeat()
{
    DoubleSpinBox spin(0, 1000, 0, 1);
    spin.resize(200, 32);
    QMouseEvent press(QEvent::MouseButtonPress, QPoint(100, 16), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&spin, &press);
    QVERIFY(!spin.isLongPressActive());
}

void tst_Controls::spinBoxArrowGeometry()
{
    DoubleSpinBox spin;
    spin.resize(150, 40);
    QCOMPARE(spin.downArrowRect(), QRect(7, 12, 16, 16));
    QCOMPARE(spin.upArrowRect(), QRect(150 - 7 - 16, 12, 16, 16));
}

void tst_Controls::decimalSeparatorFollowsLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");

    QTest::newRow("German, full stop typed") << QLocale(QLocale::German, QLocale::Germany) << "1.5" << "1,5";
    QTest::newRow("German, comma typed") << QLocale(QLocale::German, QLocale::Germany) << "1,5" << "1,5";
    QTest::newRow("English, comma typed") << QLocale(QLocale::English, QLocale::UnitedKingdom) << "1,5" << "1.5";
    QTest::newRow("English, full stop typed") << QLocale(QLocale::English, QLocale::UnitedKingdom) << "1.5" << "1.5";
}

void tst_Controls::decimalSeparatorFollowsLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, typed);
    QFETCH(QString, shown);

    DoubleSpinBox spin(0, 100, 0, 1);
    spin.setLocale(locale);
    spin.setDecimals(1);
    spin.show();
    QVERIFY(QTest::qWaitForWindowExposed(&spin));
    spin.selectAll();
    QTest::keyClicks(&spin, typed);
    QCOMPARE(spin.text(), shown);
    QCOMPARE(spin.value(), 1.5);
}

void tst_Controls::splitButton()
{
    PushButton button(QStringLiteral("Measure"));
    QCOMPARE(button.sizeHint(), button.QPushButton::sizeHint());
    QMenu menu;
    menu.addAction(QStringLiteral("Once"));
    button.setMenu(&menu);
    QCOMPARE(button.sizeHint().width(), button.QPushButton::sizeHint().width() + 16);
    button.resize(160, 30);
    // Should the menu open after all, close it again instead of hanging in it.
    bool menuShown = false;
    connect(&menu, &QMenu::aboutToShow, &menu, [&] {
        menuShown = true;
        QTimer::singleShot(0, &menu, &QMenu::close);
    });

    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(20, 15));
    QCOMPARE(clicked.count(), 1);
    QVERIFY(!menuShown);

    button.setCheckable(true);
    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(20, 15));
    QVERIFY(button.isChecked());
    QVERIFY(!menuShown);
}

void tst_Controls::splitButtonTakesMenuAction()
{
    PushButton button(QStringLiteral("Measure"));
    QMenu menu;
    QAction *repeat = menu.addAction(QStringLiteral("Repeat"));
    button.setMenu(&menu);
    button.setShortcut(QKeySequence(Qt::Key_F5));
    button.setCheckable(true);
    QSignalSpy triggered(&button, &PushButton::menuActionTriggered);

    button.onActionTriggered(repeat);
    QCOMPARE(button.text(), QStringLiteral("Repeat"));
    QCOMPARE(button.shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(button.currentAction(), repeat);
    QCOMPARE(triggered.count(), 1);

    button.setChecked(true);
    button.setChecked(false);
    QCOMPARE(triggered.count(), 3);
    QCOMPARE(triggered.at(1).at(0).value<QAction *>(), repeat);
    QCOMPARE(triggered.at(2).at(0).value<QAction *>(), static_cast<QAction *>(nullptr));

    button.disable();
    QVERIFY(!button.isEnabled());
    button.enable();
    QVERIFY(button.isEnabled());
}

void tst_Controls::comboArrow()
{
    ComboBox combo;
    combo.resize(200, 40);
    const QPolygonF down = combo.arrow();
    QCOMPARE(down.size(), 3);
    QCOMPARE(down.at(0), QPointF(170, 16));
    QCOMPARE(down.at(1), QPointF(190, 16));
    QCOMPARE(down.at(2), QPointF(180, 28));
    QVERIFY(qobject_cast<QListView *>(combo.view()));
}

void tst_Controls::comboValidInputUsesValidationRole()
{
    ComboBox combo;
    combo.addItem(QStringLiteral("five"));
    combo.setItemData(0, 5, ComboBox::kDefaultValidationRole);
    combo.addItem(QStringLiteral("fifty"));
    combo.setItemData(1, 50, ComboBox::kDefaultValidationRole);
    QCOMPARE(ComboBox::kDefaultValidationRole, 257);
    QIntValidator validator(0, 9);
    combo.setValidator(&validator);
    QCOMPARE(combo.property("validInput").toBool(), true);
    combo.setCurrentIndex(1);
    QCOMPARE(combo.property("validInput").toBool(), false);
}

void tst_Controls::labelLinkColour_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("href gets a style") << "See <a href=\"x\">here</a>."
                                       << "See <a style=\"color: #123abc;\"href=\"x\">here</a>.";
    QTest::newRow("upper-case colour is replaced")
        << "<a style=\"color: #FF00AA;\" href=\"x\">here</a>" << "<a style=\"color: #123abc;\" href=\"x\">here</a>";
    QTest::newRow("plain text stays") << "no link" << "no link";
}

void tst_Controls::labelLinkColour()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    Label label;
    label.setLinkColor(QColor(0x12, 0x3a, 0xbc));
    label.setText(text);
    QCOMPARE(label.text(), expected);
}

void tst_Controls::labelLinkColorProperty()
{
    Label label;
    QCOMPARE(label.linkColor(), QColor(Qt::transparent));
    QPalette palette = label.palette();
    palette.setColor(QPalette::Text, QColor(0x20, 0x40, 0x60));
    label.setPalette(palette);
    label.setText(QStringLiteral("<a href=\"x\">x</a>"));
    QCOMPARE(label.text(), QStringLiteral("<a style=\"color: #204060;\"href=\"x\">x</a>"));

    QSignalSpy changed(&label, &Label::linkColorChanged);
    label.setLinkColor(Qt::red);
    label.setLinkColor(Qt::red);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(label.property("linkColor").value<QColor>(), QColor(Qt::red));
}

void tst_Controls::labelCheckable()
{
    Label label(QStringLiteral("Gating"));
    label.setCheckable(true);
    QSignalSpy clicked(&label, &Label::clicked);
    QSignalSpy toggled(&label, &Label::toggled);
    QSignalSpy doubleClicked(&label, &Label::dblClicked);

    QTest::mousePress(&label, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(toggled.count(), 1);
    QVERIFY(label.isChecked());
    QCOMPARE(label.property("checked").toBool(), true);

    label.setChecked(true); // no change, no signal
    QCOMPARE(toggled.count(), 1);
    label.setUnchecked();
    QCOMPARE(toggled.count(), 2);
    QVERIFY(!label.property("checked").isValid());

    QTest::mouseDClick(&label, Qt::LeftButton);
    QCOMPARE(doubleClicked.count(), 1);

    // A disabled label ignores presses.
    const int clicks = clicked.count();
    label.setEnabled(false);
    QTest::mousePress(&label, Qt::LeftButton);
    QTest::mouseDClick(&label, Qt::LeftButton);
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(doubleClicked.count(), 1);
}

void tst_Controls::labelNotCheckable()
{
    Label label(QStringLiteral("State"));
    QSignalSpy toggled(&label, &Label::toggled);
    QTest::mousePress(&label, Qt::LeftButton);
    label.setChecked(true);
    QCOMPARE(toggled.count(), 0);
    QVERIFY(!label.isChecked());
}

void tst_Controls::ledMask_data()
{
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<QList<bool>>("expected");
    QTest::newRow("5 on three") << quint32(5) << QList<bool>({true, false, true});
    QTest::newRow("none") << quint32(0) << QList<bool>({false, false, false});
    QTest::newRow("higher bits ignored") << quint32(0xfffffff8) << QList<bool>({false, false, false});
}

void tst_Controls::ledMask()
{
    QFETCH(quint32, mask);
    QFETCH(QList<bool>, expected);
    StateLedWidget_v2 row(3, true, QStringLiteral("Channels"), {QStringLiteral("A"), QStringLiteral("B")}, false);
    row.setState(mask);
    QCOMPARE(row.state(), mask);
    QList<bool> on;
    for (StateLed_v2 *led : row.leds())
        on << led->isOn();
    QCOMPARE(on, expected);
}

void tst_Controls::ledRowLayout()
{
    StateLedWidget_v2 row(3, false, QStringLiteral("Channels"), {QStringLiteral("A"), QStringLiteral("B")}, true);
    QCOMPARE(row.toolTip(), QStringLiteral("Channels"));
    const QList<StateLed_v2 *> leds = row.leds();
    QCOMPARE(leds.size(), 3);
    QCOMPARE(leds.at(0)->toolTip(), QStringLiteral("A"));
    QCOMPARE(leds.at(1)->toolTip(), QStringLiteral("B"));
    QCOMPARE(leds.at(2)->toolTip(), QString());
    auto *layout = qobject_cast<QBoxLayout *>(row.layout());
    QVERIFY(layout);
    QCOMPARE(layout->direction(), QBoxLayout::BottomToTop);
    QCOMPARE(layout->spacing(), 1);
    QCOMPARE(layout->contentsMargins(), QMargins(1, 1, 1, 1));
    auto *caption = qobject_cast<Label *>(layout->itemAt(0)->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Channels"));

    // Lit, the LED is green all over; dark, red.
    StateLed_v2 led;
    led.resize(8, 8);
    QCOMPARE(led.grab().toImage().pixelColor(4, 4), QColor(Qt::red));
    led.setOn(true);
    QCOMPARE(led.grab().toImage().pixelColor(4, 4), QColor(Qt::green));
}

QTEST_MAIN(tst_Controls)
#include "tst_controls.moc"
