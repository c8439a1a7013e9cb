#pragma once
#include <QImage>
#include <QWidget>

class CPicture;

// The preview: a picture of the preview size, painted stretched to the control.
class CPicCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CPicCtrl(QWidget* parent = nullptr);

    // Takes a copy of the (opaque) preview picture and repaints.
    void SetPicture(const CPicture& pic);
    const QImage& Image() const { return m_image; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage m_image;
};

// 0xTTRRGGBB pixels as an opaque QImage.
QImage PictureToImage(const CPicture& pic);
