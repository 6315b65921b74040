#include "StateLedWidget_v2.h"

#include "Label.h"
#include "StateLed_v2.h"

#include <QBoxLayout>

StateLedWidget_v2::StateLedWidget_v2(int count, bool horizontal, const QString &caption,
                                     const QStringList &ledToolTips, bool withLabel, QWidget *parent)
    : QWidget(parent)
{
    setToolTip(caption);
    auto *layout = new QBoxLayout(horizontal ? QBoxLayout::LeftToRight : QBoxLayout::BottomToTop, this);
    layout->setSpacing(1);
    layout->setContentsMargins(1, 1, 1, 1);
    if (withLabel)
        layout->addWidget(new Label(caption, this));
    for (int i = 0; i < count; ++i) {
        auto *led = new StateLed_v2(this);
        if (i < ledToolTips.size())
            led->setToolTip(ledToolTips.at(i));
        layout->addWidget(led);
        m_leds << led;
    }
}

void StateLedWidget_v2::setState(quint32 mask)
{
    m_state = mask;
    for (int i = 0; i < m_leds.size(); ++i)
        m_leds.at(i)->setOn(i < 32 && (mask & (quint32(1) << i)));
    update();
}
