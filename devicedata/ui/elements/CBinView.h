#pragma once
#include "app/ui/CPageView.h"
#include "devicedata/BinPage.h"

#include <functional>

class CPnPBin;
class QLabel;
class QMenu;
class QPushButton;

// The binary data page: "Load" a file into the element, "Write" it into one of its items.
class CBinView : public CPageView {
    Q_OBJECT
public:
    CBinView(CPnPBin* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void SetIdle(bool idle) override;

    QPushButton* LoadButton() const { return m_load; }
    QPushButton* WriteButton() const { return m_write; }
    QMenu* WriteMenu() const { return m_writeMenu; }
    // The file-open dialog (tests replace it); returns the chosen path or "" when cancelled.
    std::function<QString(const QString& folder, const QString& filter)> chooseFile;

private:
    void OnLoad();
    void ShowState();

    CBinPage m_page;
    QPushButton* m_load = nullptr;
    QPushButton* m_write = nullptr;
    QMenu* m_writeMenu = nullptr;
    QLabel* m_state = nullptr;
    bool m_idle = true;
};
