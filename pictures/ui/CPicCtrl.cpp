#include "CPicCtrl.h"

#include "pictures/CPicture.h"

#include <QPainter>

QImage PictureToImage(const CPicture& pic) {
    QImage img(pic.Width(), pic.Height(), QImage::Format_RGB32);
    for (int y = 0; y < pic.Height(); ++y) {
        const uint32_t* src = pic.Row(y);
        auto* dst = reinterpret_cast<uint32_t*>(img.scanLine(y));
        // RGB32 wants 0xFF in the top byte where we keep transparency.
        for (int x = 0; x < pic.Width(); ++x) dst[x] = src[x] | 0xFF000000u;
    }
    return img;
}

CPicCtrl::CPicCtrl(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(160, 90);
}

void CPicCtrl::SetPicture(const CPicture& pic) {
    m_image = PictureToImage(pic);
    update();
}

QSize CPicCtrl::sizeHint() const { return QSize(480, 270); }

void CPicCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_image.isNull()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    // A 16:9 preview in a control of other proportions would look squashed, and a preview far
    // smaller than the control would show its pixels as blocks: keep its shape, smooth it.
    QSize fit = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    if (fit.isEmpty()) fit = size();
    const QRect target(QPoint((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, m_image);
}
