#pragma once

#include <QDoubleSpinBox>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

class QValidator;

// A touch-friendly spin box: the down arrow sits at the left edge and the up
// arrow at the right edge, holding a press on either steps once a second,
// and either decimal separator key enters the locale's separator.
class DoubleSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    static constexpr int kLongPressInterval = 1000;
    static constexpr int kArrowMargin = 7;
    static constexpr int kArrowSize = 16;
    static constexpr int kLongPressEdge = 20;

    explicit DoubleSpinBox(QWidget *parent = nullptr);
    // The bounds may come in either order.
    DoubleSpinBox(double bound1, double bound2, double value, double step, QWidget *parent = nullptr);

    void setValidator(QValidator *validator);
    QValidator *validator() const { return m_validator; }
    bool isLongPressActive() const { return m_longPress.isActive(); }
    QRect downArrowRect() const;
    QRect upArrowRect() const;

Q_SIGNALS:
    void editingFinished(QString text);
    void editingFinished(double value);
    void editingFinished(int value);
    void valueChanged(int value);

public Q_SLOTS:
    void onValueChanged();
    void onEditingFinished();
    void onLongPressTimer();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void recolour();
    bool swapDecimalSeparator(QKeyEvent *event);

    QPointer<QValidator> m_validator;
    QTimer m_longPress;
    QPoint m_pressPos;
    QPixmap m_down;
    QPixmap m_up;
};
