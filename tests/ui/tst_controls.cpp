#include "CheckBox.h"
#include "ComboBox.h"
#include "ControlStyle.h"
#include "DoubleSpinBox.h"
#include "Label.h"
#include "PushButton.h"
#include "RadioButton.h"
#include "StateLedWidget_v2.h"
#include "StateLed_v2.h"

#include <QBoxLayout>
#include <QIntValidator>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

namespace {
// True if some pixel inside the rectangle is mostly of the colour.
bool showsColour(const QImage &image, const QRect &rect, const QColor &colour)
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
} // namespace

class tst_Controls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tintKeepsAlpha()
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

        for (const char *path : {"misc/checkbox_checked", "misc/checkbox_unchecked", "arrows/down", "arrows/up",
                                 "misc/disconnected-64", "misc/info"}) {
            const QPixmap pixmap = ControlStyle::tintedResource(QStringLiteral(":/icons/default/%1.png").arg(path), Qt::black);
            QVERIFY2(!pixmap.isNull() && pixmap.hasAlphaChannel(), path);
        }
    }

    void indicatorFollowsPalette()
    {
        CheckBox box(QStringLiteral("Gating"));
        box.resize(120, 24);
        QPalette palette = box.palette();
        for (const QColor &colour : {QColor(220, 0, 0), QColor(0, 0, 230)}) {
            palette.setColor(QPalette::ButtonText, colour);
            box.setPalette(palette);
            QVERIFY(showsColour(box.grab().toImage(), box.indicatorRect(), colour));
        }
        QVERIFY(!showsColour(box.grab().toImage(), box.indicatorRect(), QColor(220, 0, 0)));
    }

    void spinBoxBoundsInEitherOrder()
    {
        for (const auto &bounds : {qMakePair(0.0, 10.0), qMakePair(10.0, 0.0)}) {
            DoubleSpinBox spin(bounds.first, bounds.second, 4.0, 0.5);
            QCOMPARE(spin.minimum(), 0.0);
            QCOMPARE(spin.maximum(), 10.0);
            QCOMPARE(spin.value(), 4.0);
        }
    }

    void spinBoxIntegerSignals()
    {
        DoubleSpinBox spin(0, 100, 0, 1);
        QSignalSpy ints(&spin, qOverload<int>(&DoubleSpinBox::valueChanged));
        spin.setValue(-0.0);
        spin.setValue(2.7);
        QCOMPARE(ints.count(), 1);
        QCOMPARE(ints.at(0).at(0).toInt(), 2);

        QStringList order;
        connect(&spin, qOverload<QString>(&DoubleSpinBox::editingFinished), this, [&](QString t) { order << "text " + t; });
        connect(&spin, qOverload<double>(&DoubleSpinBox::editingFinished), this,
                [&](double value) { order << "double " + QString::number(value); });
        connect(&spin, qOverload<int>(&DoubleSpinBox::editingFinished), this,
                [&](int value) { order << "int " + QString::number(value); });
        spin.onEditingFinished();
        QCOMPARE(order, QStringList({"text " + spin.text(), "double 2.7", "int 2"}));
    }

    // "validInput" follows the validator: the spin box's text, the combo's validation role.
    void validInput()
    {
        QIntValidator validator(0, 9);
        DoubleSpinBox spin(0, 100, 5, 1);
        spin.setDecimals(1);
        spin.setValidator(&validator);
        QCOMPARE(spin.property("validInput").toBool(), false); // "5.0" is no integer
        spin.setDecimals(0);
        spin.setValue(6);
        QCOMPARE(spin.property("validInput").toBool(), true);
        spin.setValue(12);
        QCOMPARE(spin.property("validInput").toBool(), false);

        ComboBox combo;
        combo.addItem(QStringLiteral("five"));
        combo.setItemData(0, 5, ComboBox::kDefaultValidationRole);
        combo.addItem(QStringLiteral("fifty"));
        combo.setItemData(1, 50, ComboBox::kDefaultValidationRole);
        combo.setValidator(&validator);
        QCOMPARE(combo.property("validInput").toBool(), true);
        combo.setCurrentIndex(1);
        QCOMPARE(combo.property("validInput").toBool(), false);
    }

    // Held near an edge the spin box steps, and keeps stepping on the timer,
    // up at the right edge and down at the left; away from the edges it does not.
    void spinBoxLongPressRepeats()
    {
        DoubleSpinBox spin(0, 1000, 0, 1);
        spin.resize(200, 32);
        spin.show();
        QVERIFY(QTest::qWaitForWindowExposed(&spin));
        const QPoint middle(100, 16), right(spin.width() - 10, 16), left(10, 16);
        QTest::mousePress(&spin, Qt::LeftButton, Qt::NoModifier, middle);
        QVERIFY(!spin.isLongPressActive());
        QTest::mouseRelease(&spin, Qt::LeftButton, Qt::NoModifier, middle);

        QTest::mousePress(&spin, Qt::LeftButton, Qt::NoModifier, right);
        QVERIFY(spin.isLongPressActive() && spin.value() >= 1.0);
        const double held = spin.value();
        QTRY_VERIFY_WITH_TIMEOUT(spin.value() > held, 2500);
        QTest::mouseRelease(&spin, Qt::LeftButton, Qt::NoModifier, right);
        QVERIFY(!spin.isLongPressActive());
        const double released = spin.value();
        QTest::qWait(0);
        QCOMPARE(spin.value(), released);

        QTest::mousePress(&spin, Qt::LeftButton, Qt::NoModifier, left);
        QVERIFY(spin.isLongPressActive() && spin.value() < released);
        QTest::mouseRelease(&spin, Qt::LeftButton, Qt::NoModifier, left);
    }

    void decimalSeparatorFollowsLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        const QLocale german(QLocale::German, QLocale::Germany), english(QLocale::English, QLocale::UnitedKingdom);
        QTest::newRow("German, full stop typed") << german << "1.5" << "1,5";
        QTest::newRow("German, comma typed") << german << "1,5" << "1,5";
        QTest::newRow("English, comma typed") << english << "1,5" << "1.5";
        QTest::newRow("English, full stop typed") << english << "1.5" << "1.5";
    }
    void decimalSeparatorFollowsLocale()
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

    void splitButton()
    {
        PushButton button(QStringLiteral("Measure"));
        QCOMPARE(button.sizeHint(), button.QPushButton::sizeHint());
        QMenu menu;
        QAction *repeat = menu.addAction(QStringLiteral("Repeat"));
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
        button.setCheckable(true);
        QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(20, 15));
        QVERIFY(button.isChecked());
        QVERIFY(!menuShown);

        // A menu action becomes the button's, shortcut kept; toggling reports it.
        button.setChecked(false);
        button.setShortcut(QKeySequence(Qt::Key_F5));
        QSignalSpy triggered(&button, &PushButton::menuActionTriggered);
        button.onActionTriggered(repeat);
        QCOMPARE(button.text(), QStringLiteral("Repeat"));
        QCOMPARE(button.shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(button.currentAction(), repeat);
        button.setChecked(true);
        button.setChecked(false);
        QCOMPARE(triggered.count(), 3);
        QCOMPARE(triggered.at(1).at(0).value<QAction *>(), repeat);
        QCOMPARE(triggered.at(2).at(0).value<QAction *>(), static_cast<QAction *>(nullptr));
    }

    void labelClicksAndChecks()
    {
        Label plain(QStringLiteral("State"));
        QSignalSpy plainToggled(&plain, &Label::toggled);
        QTest::mousePress(&plain, Qt::LeftButton);
        plain.setChecked(true);
        QCOMPARE(plainToggled.count(), 0);
        QVERIFY(!plain.isChecked());

        Label label(QStringLiteral("Gating"));
        label.setCheckable(true);
        QSignalSpy clicked(&label, &Label::clicked);
        QSignalSpy toggled(&label, &Label::toggled);
        QSignalSpy doubleClicked(&label, &Label::dblClicked);
        QTest::mousePress(&label, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(toggled.count(), 1);
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

    void ledMask_data()
    {
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QList<bool>>("expected");
        QTest::newRow("5 on three") << quint32(5) << QList<bool>({true, false, true});
        QTest::newRow("higher bits ignored") << quint32(0xfffffff8) << QList<bool>({false, false, false});
    }
    void ledMask()
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

    void ledColumn()
    {
        StateLedWidget_v2 column(3, false, QStringLiteral("Channels"), {QStringLiteral("A"), QStringLiteral("B")}, true);
        QCOMPARE(column.toolTip(), QStringLiteral("Channels"));
        QStringList tips;
        for (StateLed_v2 *led : column.leds())
            tips << led->toolTip();
        QCOMPARE(tips, QStringList({"A", "B", ""}));
        auto *layout = qobject_cast<QBoxLayout *>(column.layout());
        QCOMPARE(layout->direction(), QBoxLayout::BottomToTop); // bit 0 at the bottom
        QCOMPARE(qobject_cast<Label *>(layout->itemAt(0)->widget())->text(), QStringLiteral("Channels"));

        // Lit, the LED is green all over; dark, red.
        StateLed_v2 led;
        led.resize(8, 8);
        QCOMPARE(led.grab().toImage().pixelColor(4, 4), QColor(Qt::red));
        led.setOn(true);
        QCOMPARE(led.grab().toImage().pixelColor(4, 4), QColor(Qt::green));
    }
};

QTEST_MAIN(tst_Controls)
#include "tst_controls.moc"
