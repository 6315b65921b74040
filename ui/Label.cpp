#include "Label.h"

#include "ControlStyle.h"

#include <QEvent>
#include <QRegularExpression>

Label::Label(QWidget *parent)
    : Label(QString(), parent)
{
}

Label::Label(const QString &text, QWidget *parent)
    : QLabel(parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    installEventFilter(this);
    setText(text);
}

void Label::setRecolourPixmap(bool recolour)
{
    m_recolourPixmap = recolour;
    refresh();
}

void Label::setLinkColor(const QColor &color)
{
    if (color == m_linkColor)
        return;
    m_linkColor = color;
    Q_EMIT linkColorChanged();
    refresh();
}

void Label::setPixmap(const QPixmap &pixmap)
{
    m_pixmap = pixmap;
    m_checkedPixmap = pixmap;
    refresh();
}

void Label::setCheckedPixmap(const QPixmap &pixmap)
{
    m_checkedPixmap = pixmap;
    refresh();
}

void Label::setText(const QString &text)
{
    m_text = text;
    refresh();
}

void Label::setChecked(bool checked)
{
    if (!m_checkable || checked == m_checked)
        return;
    m_checked = checked;
    setProperty("checked", checked ? QVariant(true) : QVariant());
    ControlStyle::repolish(this);
    Q_EMIT toggled(checked);
    refresh();
}

void Label::setUnchecked()
{
    setChecked(false);
}

bool Label::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && isEnabled()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::TouchBegin:
            Q_EMIT clicked();
            if (m_checkable)
                setChecked(!m_checked);
            break;
        case QEvent::MouseButtonDblClick:
            Q_EMIT dblClicked();
            break;
        default:
            break;
        }
    }
    return QLabel::eventFilter(watched, event);
}

void Label::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        refresh();
}

void Label::refresh()
{
    const QColor color = m_linkColor == QColor(Qt::transparent) ? palette().color(QPalette::Text) : m_linkColor;
    const QString name = color.name(QColor::HexRgb);
    static const QRegularExpression styled(QStringLiteral("(<a[^>]*style=\"color: )(#[0-9A-F]{6,6});"));
    static const QRegularExpression plain(QStringLiteral("(<a[^>]*)(href=\")"));
    QString text = m_text;
    if (text.contains(styled))
        text.replace(styled, QStringLiteral("\\1%1;").arg(name));
    else if (text.contains(plain))
        text.replace(plain, QStringLiteral("\\1style=\"color: %1;\"\\2").arg(name));

    const QPixmap &pixmap = m_checkable && m_checked ? m_checkedPixmap : m_pixmap;
    if (!pixmap.isNull()) {
        QLabel::setPixmap(m_recolourPixmap ? ControlStyle::tinted(pixmap, palette().color(QPalette::WindowText))
                                           : pixmap);
    } else {
        QLabel::setText(text);
    }
}
