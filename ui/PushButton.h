#pragma once

#include <QAction>
#include <QIcon>
#include <QPointer>
#include <QPushButton>

// A push button with a tinted icon and an HTML tool tip. With a menu it is a
// split button: the left part acts at once, only the strip at the right edge
// opens the menu, and the chosen action becomes the button's own.
class PushButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(bool recolourIcon READ recolourIcon WRITE setRecolourIcon)
    Q_PROPERTY(QString fallbackCaption READ fallbackCaption WRITE setFallbackCaption)

public:
    explicit PushButton(QWidget *parent = nullptr);
    explicit PushButton(const QString &text, QWidget *parent = nullptr);

    bool recolourIcon() const { return m_recolourIcon; }
    void setRecolourIcon(bool recolour);
    // The caption of the tool tip while the text is empty.
    QString fallbackCaption() const { return m_fallbackCaption; }
    void setFallbackCaption(const QString &caption);
    void setIcon(const QIcon &icon);
    // Sets the text without losing the shortcut and rebuilds the tool tip.
    void setText(const QString &text);
    QAction *currentAction() const { return m_action; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void menuActionTriggered(QAction *action);

public Q_SLOTS:
    void enable();
    void disable();
    void onActionTriggered(QAction *action);
    void onToggled(bool checked);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void recolour();
    void updateToolTip();
    int menuStripWidth() const;

    QString m_fallbackCaption;
    QPointer<QAction> m_action;
    bool m_recolourIcon = true;
    QIcon m_icon;
};
