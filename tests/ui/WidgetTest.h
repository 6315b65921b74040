#pragma once

#include "ComboBox.h"
#include "DoubleSpinBox.h"
#include "WidgetFixture.h"

#include <QAbstractButton>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

// The named child; a missing one ends the run, as every later step would fail.
template<typename T = QWidget>
T *childOf(const QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

// A parameter's row in the debug view's tree; null if it has none or several.
inline QTreeWidgetItem *treeItem(QWidget *debug, int id)
{
    const auto found = childOf<QTreeWidget>(debug, QStringLiteral("treeParameters"))
                           ->findItems(QString::number(id), Qt::MatchExactly | Qt::MatchRecursive, 0);
    return found.size() == 1 ? found.first() : nullptr;
}

// The widget under test on its fixture; a test class derives from it
// besides QObject and builds the widget in init().
template<typename W>
struct WidgetHarness
{
    std::unique_ptr<WidgetFixture> m_fixture;
    std::unique_ptr<W> m_widget;

    template<typename T = QWidget>
    T *child(const char *name) const { return childOf<T>(m_widget.get(), QLatin1String(name)); }
    void tearDown()
    {
        m_widget.reset();
        m_fixture.reset();
    }
};

// What a user does to a widget, in the rows of a "written" table.
using WidgetAction = std::function<void(QWidget *)>;
Q_DECLARE_METATYPE(WidgetAction)

inline WidgetAction clickOn(const QString &name)
{
    return [name](QWidget *w) { childOf<QAbstractButton>(w, name)->click(); };
}

inline WidgetAction activate(const QString &name, int index)
{
    return [name, index](QWidget *w) {
        auto *combo = childOf<ComboBox>(w, name);
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    };
}

inline WidgetAction edit(const QString &name, double value)
{
    return [name, value](QWidget *w) {
        auto *spinBox = childOf<DoubleSpinBox>(w, name);
        spinBox->setValue(value);
        Q_EMIT static_cast<QAbstractSpinBox *>(spinBox)->editingFinished();
    };
}

// Parameter to control: after the confirms, the named child shows the
// expected property ("hidden" reads isHidden(), for widgets never shown), and
// showing it wrote nothing back.
inline void shownColumns()
{
    QTest::addColumn<Confirms>("confirms");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("expected");
}

inline void shownRow(const char *tag, const Confirms &confirms, const char *object, const char *property,
                     const QVariant &expected)
{
    QTest::newRow(tag) << confirms << QString::fromLatin1(object) << QByteArray(property) << expected;
}

inline void checkShown(const WidgetFixture &fixture, QWidget *widget)
{
    QFETCH(Confirms, confirms);
    QFETCH(QString, object);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, expected);
    fixture.confirmAll(confirms);
    QWidget *child = childOf(widget, object);
    const QVariant actual = property == "hidden" ? QVariant(child->isHidden()) : child->property(property);
    if (expected.userType() == QMetaType::Double)
        QVERIFY2(qAbs(actual.toDouble() - expected.toDouble()) < 1e-6, qPrintable(actual.toString()));
    else
        QCOMPARE(actual, expected);
    QCOMPARE(fixture.allPending(), QList<int>());
}
