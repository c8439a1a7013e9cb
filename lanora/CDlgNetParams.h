#pragma once
#include "lanora/LanoraLogic.h"

#include <QDialog>
#include <functional>

class QLineEdit;

// "Network parameters": IP address, mask and gateway of one port, or of the management and the
// data port. OK checks the IP addresses and keeps the dialog open while one is invalid.
class CDlgNetParams : public QDialog {
    Q_OBJECT
public:
    CDlgNetParams(bool twoPort, int language, const RSetupValues& values, QWidget* parent = nullptr);
    RSetupValues Values() const { return m_values; }
    // Called with message 3017 when an address is refused; the window shows it.
    std::function<void()> onInvalid;
    QLineEdit* Field(int port, int which) const { return m_fields[port][which]; }  // which: 0 ip, 1 mask, 2 gw
    // What OK does; public for the tests.
    bool TryAccept();

private:
    bool m_twoPort;
    RSetupValues m_values;
    QLineEdit* m_fields[2][3] = {};
};

// "Read device passport": an address typed by the operator, for modules not in the list.
class CDlgPassportAddress : public QDialog {
    Q_OBJECT
public:
    CDlgPassportAddress(int language, QWidget* parent = nullptr);
    uint32_t Address() const { return m_ip; }
    std::function<void()> onInvalid;
    QLineEdit* Field() const { return m_field; }
    bool TryAccept();

private:
    QLineEdit* m_field = nullptr;
    uint32_t m_ip = 0;
};

// One dotted-quad field as the dialogs use it.
QLineEdit* MakeAddressField(QWidget* parent, uint32_t ip);
