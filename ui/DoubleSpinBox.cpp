#include "DoubleSpinBox.h"

#include "ControlStyle.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QValidator>

DoubleSpinBox::DoubleSpinBox(QWidget *parent)
    : DoubleSpinBox(0.0, 99.99, 0.0, 1.0, parent)
{
}

DoubleSpinBox::DoubleSpinBox(double bound1, double bound2, double value, double step, QWidget *parent)
    : QDoubleSpinBox(parent)
{
    setRange(qMin(bound1, bound2), qMax(bound1, bound2));
    setValue(value);
    setSingleStep(step);
    // The arrows are our own images at both ends; the style only keeps room for them.
    setStyleSheet(QStringLiteral(
        "QDoubleSpinBox { padding: 2px 24px; border: 1px solid palette(mid); border-radius: 3px;"
        " background: palette(base); min-height: 20px; }"
        "QDoubleSpinBox:disabled { border-color: palette(midlight); }"
        "QDoubleSpinBox::down-button { subcontrol-origin: border; subcontrol-position: center left;"
        " width: 28px; border: none; background: transparent; }"
        "QDoubleSpinBox::up-button { subcontrol-origin: border; subcontrol-position: center right;"
        " width: 28px; border: none; background: transparent; }"
        "QDoubleSpinBox::up-arrow, QDoubleSpinBox::down-arrow { image: none; width: 0px; height: 0px; }"));
    setAlignment(Qt::AlignCenter);
    connect(this, qOverload<double>(&QDoubleSpinBox::valueChanged), this, &DoubleSpinBox::onValueChanged);
    connect(this, &QAbstractSpinBox::editingFinished, this, &DoubleSpinBox::onEditingFinished);
#ifndef Q_OS_WIN
    // A long press on a touch screen would open the context menu instead of repeating.
    setContextMenuPolicy(Qt::NoContextMenu);
    m_longPress.setInterval(kLongPressInterval);
    connect(&m_longPress, &QTimer::timeout, this, &DoubleSpinBox::onLongPressTimer);
#endif
    recolour();
    installEventFilter(this);
}

void DoubleSpinBox::setValidator(QValidator *validator)
{
    m_validator = validator;
    onValueChanged();
}

QRect DoubleSpinBox::downArrowRect() const
{
    return QRect(kArrowMargin, (height() - kArrowSize) / 2, kArrowSize, kArrowSize);
}

QRect DoubleSpinBox::upArrowRect() const
{
    return QRect(width() - kArrowMargin - kArrowSize, (height() - kArrowSize) / 2, kArrowSize, kArrowSize);
}

void DoubleSpinBox::onValueChanged()
{
    bool valid = true;
    if (m_validator) {
        QString text = lineEdit()->text();
        int pos = 0;
        valid = m_validator->validate(text, pos) == QValidator::Acceptable;
    }
    setProperty("validInput", valid);
    ControlStyle::repolish(this);
    Q_EMIT valueChanged(int(value()));
}

void DoubleSpinBox::onEditingFinished()
{
    Q_EMIT editingFinished(text());
    Q_EMIT editingFinished(value());
    Q_EMIT editingFinished(int(value()));
}

void DoubleSpinBox::onLongPressTimer()
{
    // Release and press again: the base class steps once per press.
    QMouseEvent release(QEvent::MouseButtonRelease, m_pressPos, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QDoubleSpinBox::mouseReleaseEvent(&release);
    QMouseEvent press(QEvent::MouseButtonPress, m_pressPos, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QDoubleSpinBox::mousePressEvent(&press);
}

bool DoubleSpinBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            m_pressPos = static_cast<QMouseEvent *>(event)->pos();
            if (m_pressPos.x() < kLongPressEdge || m_pressPos.x() > width() - kLongPressEdge) {
#ifndef Q_OS_WIN
                m_longPress.start();
#endif
            }
            break;
        }
        case QEvent::MouseButtonRelease:
        case QEvent::Leave:
        case QEvent::FocusOut:
            m_longPress.stop();
            break;
        case QEvent::KeyPress:
            if (swapDecimalSeparator(static_cast<QKeyEvent *>(event)))
                return true;
            break;
        default:
            break;
        }
    }
    return QDoubleSpinBox::eventFilter(watched, event);
}

bool DoubleSpinBox::swapDecimalSeparator(QKeyEvent *event)
{
    const QChar separator = locale().decimalPoint();
    const int foreignKey = separator == QLatin1Char('.') ? Qt::Key_Comma : Qt::Key_Period;
    if (event->key() != foreignKey)
        return false;
    QKeyEvent replaced(QEvent::KeyPress, separator.unicode(), event->modifiers(), QString(separator));
    keyPressEvent(&replaced);
    return true;
}

void DoubleSpinBox::paintEvent(QPaintEvent *event)
{
    QDoubleSpinBox::paintEvent(event);
    if (buttonSymbols() == QAbstractSpinBox::NoButtons)
        return;
    QPainter painter(this);
    painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing);
    painter.drawPixmap(downArrowRect(), m_down);
    painter.drawPixmap(upArrowRect(), m_up);
}

void DoubleSpinBox::resizeEvent(QResizeEvent *event)
{
    ControlStyle::repolish(this);
    QDoubleSpinBox::resizeEvent(event);
}

void DoubleSpinBox::changeEvent(QEvent *event)
{
    QDoubleSpinBox::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        recolour();
}

void DoubleSpinBox::recolour()
{
    const QColor color = palette().color(QPalette::ButtonText);
    m_down = ControlStyle::tintedResource(QStringLiteral(":/icons/default/arrows/down.png"), color);
    m_up = ControlStyle::tintedResource(QStringLiteral(":/icons/default/arrows/up.png"), color);
    update();
}
