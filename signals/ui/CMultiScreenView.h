#pragma once
#include "app/ui/CPageView.h"
#include "signals/MultiScreenPage.h"

#include <functional>

class CPicCtrl;
class QCheckBox;
class QLabel;
class QPushButton;

// The multiscreen page: "File" ("Load", "Edit", "Save"), "View" (the preview of the first
// display) and "Multiscreen" ("Write", "Don't write background").
class CMultiScreenView : public CPageView {
    Q_OBJECT
public:
    CMultiScreenView(CPnPMultiScreen* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void Activate() override;
    void SetIdle(bool idle) override;

    QPushButton* LoadButton() const { return m_load; }
    QPushButton* EditButton() const { return m_edit; }
    QPushButton* SaveButton() const { return m_save; }
    QPushButton* WriteButton() const { return m_write; }
    CPicCtrl* PreviewControl() const { return m_preview; }
    QLabel* StateLabel() const { return m_state; }
    CMultiScreenPage& Page() { return m_page; }
    // The file dialogs (tests replace them); "" when cancelled.
    std::function<QString(const QString& folder)> chooseOpenFile;
    std::function<QString(const QString& folder)> chooseSaveFile;

private:
    void OnLoad();
    void OnEdit();
    void OnSave();
    void OnWrite();
    void Refresh();

    CMultiScreenPage m_page;
    QPushButton* m_load = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_write = nullptr;
    QCheckBox* m_noBackground = nullptr;
    CPicCtrl* m_preview = nullptr;
    QLabel* m_state = nullptr;
    bool m_idle = true;
};
