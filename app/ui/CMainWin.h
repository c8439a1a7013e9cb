#pragma once
#include "app/MainSettings.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceSession.h"
#include "link/LinkDefs.h"
#include "link/ProgressMailbox.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTabBar;
class QTimer;
class CDevicePageView;
class CPageView;

// The main window: two rows of tabs (the "Device" page and one page per model element), the
// progress line with "Stop operation", and "E&xit". It owns the device session (connection,
// model, operation protocol, data buffer) and hosts the page views; a completion goes to the
// step the beginning page gave, so pages are added by registering them, not by editing here.
class CMainWin : public QWidget, public IOperationUi, public ILinkNotifier {
    Q_OBJECT
public:
    explicit CMainWin(QWidget* parent = nullptr);
    ~CMainWin() override;

    const CMainSettings& Settings() const { return m_settings; }
    bool FactoryRestoreAtStart() const { return m_session->factoryRestoreAtStart; }
    void SetFactoryRestoreAtStart(bool on) { m_session->factoryRestoreAtStart = on; }

    // Restores placement from the store and shows the window.
    void ShowFromStore();
    // Fills the lists and detects the device (start-up, after the window is shown).
    void Start();

    CDeviceSession& Session() { return *m_session; }
    COperations& Ops() { return m_session->Ops(); }

    // How messages and questions reach the operator; tests replace them.
    std::function<void(const QString& text, MsgIcon icon)> messageHook;
    std::function<bool(const QString& text, MsgIcon icon, bool defaultNo)> questionHook;

    // For tests and the demo: the widgets an operator uses.
    QTabBar* TopTabs() const { return m_topTabs; }
    QTabBar* BottomTabs() const { return m_bottomTabs; }
    CDevicePageView* DevicePage() const { return m_devicePage; }
    QRadioButton* InterfaceButton(int i) const;
    QPushButton* ConnectButton() const;
    QLineEdit* AddressEdit() const;
    QRadioButton* EnterIpButton() const;
    QLabel* ModelLabel() const;
    QComboBox* BusList() const;
    QPushButton* StopButton() const { return m_stop; }
    QPushButton* ExitButton() const { return m_exit; }
    QLabel* ActivityLabel() const { return m_activity; }
    CPageView* CurrentPageView() const;
    // Selects the page whose tab is titled so (top row, then bottom row); false if none.
    bool SelectPage(const QString& top, const QString& bottom = {});

    // IOperationUi
    void OperationStateChanged(bool busy) override;
    void ShowProgressLine(bool visible) override;
    void ProgressChanged() override;
    void ShowMessage(const std::string& text, MsgIcon icon) override;
    bool AskYesNo(const std::string& text, MsgIcon icon, bool defaultNo) override;
    void SetTimer(bool running) override;

    // ILinkNotifier: called on link workers, handed to the user-interface thread.
    int LinkProgress(int value) override;
    void LinkCompleted(int result, int value, bool blocking) override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void SaveToStore();
    void UpdateControls();
    void RebuildTabs();
    void OnTopTab(int index);
    void OnBottomTab(int index);
    void ShowPage(CPageView* view);
    void OnTick();
    void TakeProgress();

    CMainSettings m_settings;
    std::unique_ptr<CDeviceSession> m_session;
    std::vector<CPageView*> m_views;  // one per model page, in model order
    CPageView* m_current = nullptr;
    bool m_rebuilding = false;
    std::atomic<bool> m_closing{false};
    CProgressMailbox m_progress;

    QTabBar* m_topTabs = nullptr;
    QTabBar* m_bottomTabs = nullptr;
    QStackedWidget* m_stack = nullptr;
    CDevicePageView* m_devicePage = nullptr;
    QWidget* m_progressLine = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_percent = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_activity = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_exit = nullptr;
    QTimer* m_timer = nullptr;
};

// Where the window stands, as the store keeps it: the frame's top-left corner and the
// client area's size of the restored (not maximised) window. move() takes the frame's
// corner and resize() the client size, so a window placed from these comes back where it was.
QRect PlacementToStore(const QRect& frame, const QRect& client, const QRect& normalClient, bool maximized);
