#pragma once

#include <QComboBox>
#include <QPointer>

class QValidator;

// A combo box with its own drawn arrow, a list popup, and a "validInput"
// property that style sheets can select on.
class ComboBox : public QComboBox
{
    Q_OBJECT
    Q_PROPERTY(bool recolourIcons READ recolourIcons WRITE setRecolourIcons)

public:
    // The first user role after Qt's own.
    static constexpr int kDefaultValidationRole = Qt::UserRole + 1;

    explicit ComboBox(QWidget *parent = nullptr);

    void setValidator(QValidator *validator);
    QValidator *validator() const { return m_validator; }
    int validationRole() const { return m_validationRole; }
    void setValidationRole(int role) { m_validationRole = role; }
    bool recolourIcons() const { return m_recolourIcons; }
    void setRecolourIcons(bool recolour);
    // The three corners of the arrow for the current size and popup state.
    QPolygonF arrow() const;

public Q_SLOTS:
    void onValueChanged();
    void recolor();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showPopup() override;
    void hidePopup() override;

private:
    QPointer<QValidator> m_validator;
    int m_validationRole = kDefaultValidationRole;
    bool m_recolourIcons = false;
    bool m_popupVisible = false;
};
