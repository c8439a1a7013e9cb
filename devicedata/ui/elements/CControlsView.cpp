#include "CControlsView.h"

#include "model/CPnPControl.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kRowRole = Qt::UserRole + 1;
}

CControlsView::CControlsView(CPnPControl* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(*element, ctx) {
    auto* layout = new QVBoxLayout(this);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName("controlsTree");
    m_tree->setColumnCount(1);
    m_tree->header()->hide();
    layout->addWidget(m_tree, 1);
    auto* buttons = new QHBoxLayout;
    m_read = new QPushButton("Read", this);
    m_read->setObjectName("controlsRead");
    m_write = new QPushButton("Write", this);
    m_write->setObjectName("controlsWrite");
    buttons->addStretch(1);
    buttons->addWidget(m_read);
    buttons->addWidget(m_write);
    layout->addLayout(buttons);

    m_page.onRead = [this] { Rebuild(); };
    connect(m_read, &QPushButton::clicked, this, [this] { m_page.Read(); });
    connect(m_write, &QPushButton::clicked, this, [this] { m_page.Write(); });
    connect(m_tree, &QTreeWidget::itemChanged, this, &CControlsView::OnItemChanged);
    if (element->read) Rebuild();
    SetIdle(true);
}

void CControlsView::Activate() { m_page.Open(); }

void CControlsView::SetIdle(bool idle) {
    m_idle = idle;
    m_tree->setEnabled(idle);
    m_read->setEnabled(idle);
    m_write->setEnabled(idle && m_page.CanWrite());
}

void CControlsView::Rebuild() {
    m_ready = false;
    m_tree->clear();
    m_items.clear();
    const auto& rows = m_page.Rows();
    const auto& nodes = m_page.Element().nodes;
    for (size_t i = 0; i < rows.size(); ++i) {
        const RControlRow& r = rows[i];
        QTreeWidgetItem* item = r.parent >= 0 ? new QTreeWidgetItem(m_items[size_t(r.parent)])
                                              : new QTreeWidgetItem(m_tree);
        item->setText(0, QString::fromStdString(nodes[r.node]->name));
        item->setData(0, kRowRole, qulonglong(i));
        if (r.hasSwitch) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, r.on ? Qt::Checked : Qt::Unchecked);
        } else {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
        }
        m_items.push_back(item);
    }
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].expanded) m_items[i]->setExpanded(true);
    if (!m_items.empty()) m_tree->scrollToItem(m_items.front());
    m_ready = true;
    SetIdle(m_idle);
}

void CControlsView::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (!m_ready || column != 0) return;
    const size_t row = size_t(item->data(0, kRowRole).toULongLong());
    if (row >= m_items.size() || !m_page.Rows()[row].hasSwitch) return;
    const bool on = item->checkState(0) == Qt::Checked;
    if (on == m_page.Rows()[row].on) return;
    const std::vector<size_t> changed = m_page.Toggle(row, on);
    // The other choices of the group follow without coming back here.
    m_ready = false;
    for (size_t i : changed)
        m_items[i]->setCheckState(0, m_page.Rows()[i].on ? Qt::Checked : Qt::Unchecked);
    m_ready = true;
}
