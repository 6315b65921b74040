#include "PushButton.h"

#include "ControlStyle.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

PushButton::PushButton(QWidget *parent)
    : PushButton(QString(), parent)
{
}

PushButton::PushButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
{
    connect(this, &QAbstractButton::toggled, this, &PushButton::onToggled);
    updateToolTip();
}

void PushButton::setRecolourIcon(bool recolour)
{
    m_recolourIcon = recolour;
    this->recolour();
}

void PushButton::setFallbackCaption(const QString &caption)
{
    m_fallbackCaption = caption;
    updateToolTip();
}

void PushButton::setIcon(const QIcon &icon)
{
    m_icon = icon;
    recolour();
}

void PushButton::setText(const QString &text)
{
    const QKeySequence keys = shortcut();
    QPushButton::setText(text);
    setShortcut(keys);
    updateToolTip();
}

QSize PushButton::sizeHint() const
{
    QSize hint = QPushButton::sizeHint();
    if (menu())
        hint.rwidth() += 16;
    return hint;
}

void PushButton::enable()
{
    setEnabled(true);
}

void PushButton::disable()
{
    setEnabled(false);
}

void PushButton::onActionTriggered(QAction *action)
{
    if (!menu() || !action)
        return;
    setIcon(action->icon());
    setText(action->text());
    m_action = action;
    Q_EMIT menuActionTriggered(action);
}

void PushButton::onToggled(bool checked)
{
    if (menu())
        Q_EMIT menuActionTriggered(checked ? m_action.data() : nullptr);
}

int PushButton::menuStripWidth() const
{
    return fontMetrics().height();
}

void PushButton::mousePressEvent(QMouseEvent *event)
{
    if (menu() && event->button() == Qt::LeftButton && event->pos().x() < width() - menuStripWidth()) {
        // Not click(): the base class opens the menu on every press.
        if (isCheckable())
            toggle();
        else
            Q_EMIT clicked(false);
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void PushButton::contextMenuEvent(QContextMenuEvent *event)
{
    if (menu() && event->pos().x() < width() - menuStripWidth()) {
        event->ignore();
        return;
    }
    QPushButton::contextMenuEvent(event);
}

void PushButton::changeEvent(QEvent *event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        recolour();
}

void PushButton::recolour()
{
    if (!m_icon.isNull() && m_recolourIcon && !m_icon.availableSizes().isEmpty())
        QPushButton::setIcon(ControlStyle::tinted(m_icon, palette().color(QPalette::ButtonText)));
    else
        QPushButton::setIcon(m_icon);
}

void PushButton::updateToolTip()
{
    const QString caption = text().isEmpty() ? m_fallbackCaption : text();
    setToolTip(ControlStyle::infoText(shortcut(), caption, whatsThis()));
}
