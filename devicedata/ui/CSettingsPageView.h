#pragma once
#include "app/ui/CPageView.h"
#include "devicedata/SettingsPage.h"

#include <functional>
#include <vector>

class CPnPSettings;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class CDefaultTickSlider;
class QTreeWidget;
class QTreeWidgetItem;

// The settings page (register settings, settings blocks, settings groups): the tree on the
// left, the "Setting" frame with the current node's control on the right. Every click is a
// call on CSettingsPage, which does the device work; this class only shows what it holds.
class CSettingsPageView : public CPageView {
    Q_OBJECT
public:
    CSettingsPageView(CPnPSettings* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void Activate() override;
    void SetIdle(bool idle) override;

    CSettingsPage& Page() { return m_page; }
    QTreeWidget* Tree() const { return m_tree; }
    // The tree item of a node (nullptr when the node is not in the tree).
    QTreeWidgetItem* ItemOfNode(int node) const;

    // How the report file is opened (tests replace it); default: the desktop's program for it.
    std::function<void(const QString& path)> openFile;
    // The colour chooser (tests replace it); returns false when cancelled.
    std::function<bool(uint32_t current, uint32_t& chosen)> chooseColour;

private:
    void RebuildTree();
    void ShowValue();
    void OnCurrentItemChanged(QTreeWidgetItem* now, QTreeWidgetItem* before);
    void OnStart();
    void UpdateEnabled();

    CSettingsPage m_page;
    bool m_updating = false;  // controls being filled: their signals are not the operator's
    bool m_idle = true;

    QTreeWidget* m_tree = nullptr;
    std::vector<QTreeWidgetItem*> m_itemOfNode;
    QGroupBox* m_frame = nullptr;
    QLabel* m_caption = nullptr;
    QCheckBox* m_check = nullptr;
    QWidget* m_sliderRow = nullptr;
    QPushButton* m_down = nullptr;
    CDefaultTickSlider* m_slider = nullptr;
    QPushButton* m_up = nullptr;
    QLabel* m_valueText = nullptr;
    QComboBox* m_list = nullptr;
    QCheckBox* m_flagChecks[kPnPMaxFlagItems] = {};
    QRadioButton* m_flagRadios[kPnPMaxFlagItems] = {};
    QWidget* m_ipRow = nullptr;
    QLineEdit* m_ip[4] = {};
    QWidget* m_ipoutBox = nullptr;
    QComboBox* m_mode = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_tos = nullptr;
    QComboBox* m_protocol = nullptr;
    QCheckBox* m_noStuffing = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_colour = nullptr;
    QWidget* m_textRow = nullptr;
    QLineEdit* m_text = nullptr;
    QPushButton* m_set = nullptr;
    QLabel* m_infoIcon = nullptr;
    QPlainTextEdit* m_info = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_print = nullptr;
};

// Registers the settings page for element kinds 7, 11 and 12.
void RegisterSettingsPages();
