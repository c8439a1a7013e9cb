#pragma once
#include "lanora/LanoraLog.h"
#include "lanora/LanoraLogic.h"
#include "lanora/protocol/ModuleExchange.h"

#include <QMessageBox>
#include <QWidget>

class QComboBox;
class QPushButton;
class QTreeWidget;

// The setup tool's only window. It turns clicks into calls on the protocol library and the
// plain classes beside it; the dialogs and message boxes go through virtual methods so that the
// tests can answer them.
class CLanoraWin : public QWidget {
    Q_OBJECT
public:
    enum EButton { kRefresh, kBlink, kPing, kSetup, kPassport, kLog, kClose, kClear, kExport, kButtons };

    explicit CLanoraWin(QWidget* parent = nullptr);
    ~CLanoraWin() override;

    // Language, placement, interfaces, controls; shows the window and refreshes right after.
    void Start();

    void Refresh();
    void Blink();
    void Ping();
    void Setup();
    void Passport();
    void SetLogMode(bool on);
    void ClearLog();
    void ExportLog();
    void SelectInterface(int index);
    void SetLanguage(int language);

    // Inspection for the tests.
    const std::vector<RModuleListRecord>& Devices() const { return m_devices; }
    const CLanoraLog& Log() const { return m_log; }
    QPushButton* Button(EButton b) const { return m_buttons[b]; }
    QComboBox* Interfaces() const { return m_interfaces; }
    QComboBox* Languages() const { return m_languages; }
    QTreeWidget* DeviceList() const { return m_deviceList; }
    QTreeWidget* LogList() const { return m_logList; }
    uint32_t LocalIp() const;
    bool LogMode() const { return m_logMode; }
    RModuleTiming& Timing() { return m_timing; }
    // A log datagram as the listener hands it over, with its arrival time.
    void AddLogDatagram(const QByteArray& datagram, qint64 msSinceEpoch);

protected:
    virtual std::vector<RModuleInterface> ReadInterfaces();
    // Message box with text id (language applied); returns the button pressed.
    virtual QMessageBox::StandardButton Message(int id, QMessageBox::Icon icon,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton def = QMessageBox::NoButton);
    virtual bool RunSetupDialog(bool twoPort, RSetupValues& values);
    virtual bool AskPassportAddress(uint32_t& ip);
    // Empty: cancelled.
    virtual QString AskSaveFile(const QString& defaultName);
    virtual void StartPing(const QString& address);

    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    QString T(int id) const;
    void Retranslate();
    void UpdateControls();
    void FillDevices();
    void Layout();
    int SelectedDevice() const;
    void StartListener();

    int m_language = 0;
    bool m_logMode = false;
    std::vector<RModuleInterface> m_ifaces;
    std::vector<RModuleListRecord> m_devices;
    CLanoraLog m_log;
    CModuleLogListener m_listener;
    RModuleTiming m_timing;

    QTreeWidget* m_deviceList = nullptr;
    QTreeWidget* m_logList = nullptr;
    QComboBox* m_languages = nullptr;
    QComboBox* m_interfaces = nullptr;
    QPushButton* m_buttons[kButtons] = {};
};

// The ping window: runs ping against one address and shows what it prints.
class CPingWindow : public QWidget {
    Q_OBJECT
public:
    explicit CPingWindow(const QString& address, QWidget* parent = nullptr);
    ~CPingWindow() override;
    QString Output() const;

private:
    class QProcess* m_process = nullptr;
    class QPlainTextEdit* m_text = nullptr;
};
