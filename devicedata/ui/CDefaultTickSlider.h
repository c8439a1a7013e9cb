#pragma once
#include <QSlider>

// A slider with one tick mark, at the position of the setting's default value. QSlider only
// knows evenly spaced ticks, so the groove and handle are drawn by the style and the single
// mark by this class.
class CDefaultTickSlider : public QSlider {
    Q_OBJECT
public:
    explicit CDefaultTickSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

    // Slider position of the tick; outside the range no tick is drawn.
    void SetDefaultTick(int position);
    int DefaultTick() const { return m_tick; }
    // Horizontal pixel where the tick is drawn, -1 when none is.
    int DefaultTickX() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_tick = -1;
};
