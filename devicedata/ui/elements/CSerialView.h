#pragma once
#include "app/ui/CPageView.h"
#include "devicedata/SerialPage.h"

class CPnPSerial;
class QLineEdit;
class QPushButton;

// The serial number page: the "Serial number" frame with its read-only field and "Read".
class CSerialView : public CPageView {
    Q_OBJECT
public:
    CSerialView(CPnPSerial* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void SetIdle(bool idle) override;

    QLineEdit* Field() const { return m_field; }
    QPushButton* ReadButton() const { return m_read; }

private:
    CSerialPage m_page;
    QLineEdit* m_field = nullptr;
    QPushButton* m_read = nullptr;
};
