#include "CColorButton.h"

#include <QColorDialog>
#include <QPainter>

QColor ColourToQColor(uint32_t bgr) { return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF)); }
uint32_t QColorToColour(const QColor& c) { return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16); }

CColorButton::CColorButton(QWidget* parent) : QPushButton(parent) {
    setMinimumWidth(60);
    chooseColour = [this](const QColor& initial) { return QColorDialog::getColor(initial, this, "Color"); };
    connect(this, &QPushButton::clicked, this, [this] {
        const QColor c = chooseColour(ColourToQColor(m_colour));
        if (!c.isValid()) return;
        SetColour(QColorToColour(c));
        emit colourChosen(m_colour);
    });
}

void CColorButton::SetColour(uint32_t colour) {
    m_colour = colour & 0x00FFFFFFu;
    update();
}

void CColorButton::paintEvent(QPaintEvent* e) {
    QPushButton::paintEvent(e);
    QPainter p(this);
    const QRect swatch = rect().adjusted(8, 6, -8, -6);
    p.fillRect(swatch, isEnabled() ? ColourToQColor(m_colour) : palette().color(QPalette::Disabled, QPalette::Button));
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
}
