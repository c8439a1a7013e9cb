#pragma once
#include "app/ui/CPageView.h"
#include "devicedata/ControlsPage.h"

class CPnPControl;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The controls page: the switch tree with check boxes, "Read" and "Write".
class CControlsView : public CPageView {
    Q_OBJECT
public:
    CControlsView(CPnPControl* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void Activate() override;
    void SetIdle(bool idle) override;

    QTreeWidget* Tree() const { return m_tree; }
    // The tree item of a row of the page (nullptr when out of range).
    QTreeWidgetItem* Item(size_t row) const { return row < m_items.size() ? m_items[row] : nullptr; }
    CControlsPage& Page() { return m_page; }

private:
    void Rebuild();
    void OnItemChanged(QTreeWidgetItem* item, int column);

    CControlsPage m_page;
    QTreeWidget* m_tree = nullptr;
    QPushButton* m_read = nullptr;
    QPushButton* m_write = nullptr;
    std::vector<QTreeWidgetItem*> m_items;
    bool m_ready = false;  // no toggles while the tree is being built
    bool m_idle = true;
};
