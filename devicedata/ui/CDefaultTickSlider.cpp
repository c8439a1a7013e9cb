#include "devicedata/ui/CDefaultTickSlider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStylePainter>

#include <algorithm>

CDefaultTickSlider::CDefaultTickSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {
    // The style keeps room below the groove for ticks but never draws its own (see paintEvent).
    setTickPosition(QSlider::TicksBelow);
}

void CDefaultTickSlider::SetDefaultTick(int position) {
    m_tick = position;
    update();
}

int CDefaultTickSlider::DefaultTickX() const {
    if (m_tick < minimum() || m_tick > maximum()) return -1;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    // The handle's centre sits here when the value is the default.
    return groove.x() + handle.width() / 2 +
           QStyle::sliderPositionFromValue(minimum(), maximum(), m_tick, span, opt.upsideDown);
}

void CDefaultTickSlider::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    p.drawComplexControl(QStyle::CC_Slider, opt);
    const int x = DefaultTickX();
    if (x < 0) return;
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    p.setPen(palette().color(QPalette::WindowText));
    const int top = std::min(handle.bottom() + 2, height() - 2);
    p.drawLine(x, top, x, std::max(top, height() - 2));
}
