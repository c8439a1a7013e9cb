#pragma once
#include <QPushButton>

#include <cstdint>
#include <functional>

// A button that shows the colour in use as a swatch and, when clicked, asks for another
// through the colour dialog (tests replace chooseColour).
class CColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit CColorButton(QWidget* parent = nullptr);

    // 0x00BBGGRR
    void SetColour(uint32_t colour);
    uint32_t Colour() const { return m_colour; }
    // Returns the colour chosen, or an invalid QColor when cancelled.
    std::function<QColor(const QColor& initial)> chooseColour;

signals:
    void colourChosen(uint32_t colour);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    uint32_t m_colour = 0;
};

QColor ColourToQColor(uint32_t bgr);
uint32_t QColorToColour(const QColor& c);
