#pragma once
#include "app/MainSettings.h"
#include "app/ui/CPageView.h"

#include <QGroupBox>

#include <functional>
#include <vector>

class CDeviceSession;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// What the frames of the "Device" page work with: the device session and the window's
// settings (written to the store when the window closes).
struct RDevicePageHost {
    CDeviceSession& session;
    CMainSettings& settings;
    // Re-applies the enabling rules of the whole window (after a choice changed them).
    std::function<void()> updateControls;
};

// One frame of the "Device" page. Features add theirs by registering a factory; the main
// window never learns about them.
class CDeviceFrame : public QGroupBox {
    Q_OBJECT
public:
    CDeviceFrame(const QString& title, RDevicePageHost& host, QWidget* parent)
        : QGroupBox(title, parent), m_host(host) {}
    // Enabling and visibility; idle: no operation runs.
    virtual void Update(bool idle) { (void)idle; }
    // The model and so the pages changed.
    virtual void ModelChanged() {}
    // The window is up: fill lists (start-up, before the device is detected).
    virtual void Start() {}

protected:
    RDevicePageHost& m_host;
};

// column: 0 left (under "VaroConfig" and "Device"), 1 right (under "Connection"); frames of
// one column stand in the order of registration.
using DeviceFrameFactory = std::function<CDeviceFrame*(RDevicePageHost& host, QWidget* parent)>;
void RegisterDeviceFrame(int column, DeviceFrameFactory factory);

class CConnectionFrame;
class CModelFrame;

// The "Device" page: "VaroConfig" (about), "Device" (model), "Connection" (link choice, bus
// address), "Commands", then the registered frames.
class CDevicePageView : public CPageView {
    Q_OBJECT
public:
    CDevicePageView(RDevicePageHost host, RDeviceContext& ctx, QWidget* parent);

    void Update(bool idle);
    void ModelChanged();
    void BusListChanged();
    void Start();

    // For tests and the demo: the widgets an operator uses.
    QRadioButton* InterfaceButton(int i) const;
    QPushButton* ConnectButton() const;
    QLineEdit* AddressEdit() const;
    QRadioButton* EnterIpButton() const;
    QComboBox* BusList() const;
    QLabel* ModelLabel() const;
    QComboBox* ModelList() const;
    QCheckBox* VerifyBox() const;

private:
    RDevicePageHost m_host;
    std::vector<CDeviceFrame*> m_frames;
    CConnectionFrame* m_connection = nullptr;
    CModelFrame* m_model = nullptr;
    class CCommandsFrame* m_commands = nullptr;
};
