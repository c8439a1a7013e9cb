#pragma once
#include "MainSettings.h"

#include <QWidget>

class QTabWidget;
class QLabel;

// The main window. For now: the frame, the "Device" tab with the About line, and the
// window placement kept in the store.
class CMainWin : public QWidget {
    Q_OBJECT
public:
    explicit CMainWin(QWidget* parent = nullptr);
    ~CMainWin() override;

    const CMainSettings& Settings() const { return m_settings; }
    bool FactoryRestoreAtStart() const { return m_factoryAtStart; }
    void SetFactoryRestoreAtStart(bool on) { m_factoryAtStart = on; }

    // Restores placement from the store and shows the window.
    void ShowFromStore();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void SaveToStore();

    CMainSettings m_settings;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_buildLine = nullptr;
    bool m_factoryAtStart = false;
    bool m_saved = false;
};
