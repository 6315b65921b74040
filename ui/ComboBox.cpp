#include "ComboBox.h"

#include "ControlStyle.h"

#include <QEvent>
#include <QListView>
#include <QPainter>
#include <QUuid>
#include <QValidator>

ComboBox::ComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setView(new QListView(this));
    setStyleSheet(QStringLiteral("QComboBox::down-arrow{ background-color: transparent; }"));
    connect(this, qOverload<int>(&QComboBox::currentIndexChanged), this, &ComboBox::onValueChanged);
}

void ComboBox::setValidator(QValidator *validator)
{
    m_validator = validator;
    onValueChanged();
}

void ComboBox::setRecolourIcons(bool recolour)
{
    m_recolourIcons = recolour;
    recolor();
}

void ComboBox::onValueChanged()
{
    bool valid = true;
    if (m_validator) {
        const QVariant data = currentData(m_validationRole);
        QString text;
        bool isInt = false;
        if (data.userType() == QMetaType::QUuid)
            text = data.toUuid().toString();
        else if (data.toLongLong(&isInt), isInt)
            text = QString::number(data.toLongLong());
        else
            text = data.toString();
        int pos = 0;
        valid = m_validator->validate(text, pos) == QValidator::Acceptable;
    }
    setProperty("validInput", valid);
    ControlStyle::repolish(this);
}

void ComboBox::recolor()
{
    for (int i = 0; i < count(); ++i) {
        const QVariant decoration = itemData(i, Qt::DecorationRole);
        if (!decoration.canConvert<QIcon>())
            continue;
        const QIcon icon = decoration.value<QIcon>();
        const QList<QSize> sizes = icon.availableSizes();
        if (sizes.isEmpty())
            continue;
        if (!m_recolourIcons) {
            setItemIcon(i, icon);
            continue;
        }
        QSize largest = sizes.first();
        for (const QSize &size : sizes) {
            if (size.width() * size.height() > largest.width() * largest.height())
                largest = size;
        }
        const QPixmap pixmap = icon.pixmap(largest);
        QIcon tinted;
        tinted.addPixmap(ControlStyle::tinted(pixmap, palette().color(QPalette::Text)), QIcon::Normal);
        tinted.addPixmap(ControlStyle::tinted(pixmap, palette().color(QPalette::Button)), QIcon::Selected);
        tinted.addPixmap(ControlStyle::tinted(pixmap, palette().color(QPalette::Disabled, QPalette::Text)),
                         QIcon::Disabled);
        setItemIcon(i, tinted);
    }
}

QPolygonF ComboBox::arrow() const
{
    const qreal h = height();
    const QRectF r(width() - 0.75 * h, 0.4 * h, 0.5 * h, 0.3 * h);
    if (m_popupVisible)
        return QPolygonF({r.bottomLeft(), r.bottomRight(), QPointF(r.center().x(), r.top())});
    return QPolygonF({r.topLeft(), r.topRight(), QPointF(r.center().x(), r.bottom())});
}

void ComboBox::paintEvent(QPaintEvent *event)
{
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = palette().color(QPalette::ButtonText);
    if (!isEnabled())
        color.setAlpha(128);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPolygon(arrow());
}

void ComboBox::changeEvent(QEvent *event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        recolor();
}

void ComboBox::showPopup()
{
    m_popupVisible = true;
    QComboBox::showPopup();
    update();
}

void ComboBox::hidePopup()
{
    m_popupVisible = false;
    QComboBox::hidePopup();
    update();
}
