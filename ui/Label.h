#pragma once

#include <QColor>
#include <QLabel>
#include <QPixmap>

// A label that can be clicked and checked, colours its links with the
// palette (or linkColor) and tints its pixmap with the window-text colour.
class Label : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QColor linkColor READ linkColor WRITE setLinkColor NOTIFY linkColorChanged)
    Q_PROPERTY(bool checkable READ isCheckable WRITE setCheckable)
    Q_PROPERTY(bool recolourPixmap READ recolourPixmap WRITE setRecolourPixmap)

public:
    explicit Label(QWidget *parent = nullptr);
    explicit Label(const QString &text, QWidget *parent = nullptr);

    bool isCheckable() const { return m_checkable; }
    void setCheckable(bool checkable) { m_checkable = checkable; }
    bool isChecked() const { return m_checked; }
    bool recolourPixmap() const { return m_recolourPixmap; }
    void setRecolourPixmap(bool recolour);
    // Transparent means: the palette's text colour.
    QColor linkColor() const { return m_linkColor; }
    void setLinkColor(const QColor &color);
    // Sets the normal and the checked pixmap.
    void setPixmap(const QPixmap &pixmap);
    void setCheckedPixmap(const QPixmap &pixmap);
    void setText(const QString &text);

Q_SIGNALS:
    void dblClicked();
    void clicked();
    void toggled(bool isChecked);
    void linkColorChanged();

public Q_SLOTS:
    void setChecked(bool checked);
    void setUnchecked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    bool m_checkable = false;
    bool m_checked = false;
    bool m_recolourPixmap = true;
    QString m_text;
    QPixmap m_pixmap;
    QPixmap m_checkedPixmap;
    QColor m_linkColor = Qt::transparent;
};
