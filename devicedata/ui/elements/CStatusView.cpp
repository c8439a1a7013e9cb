#include "CStatusView.h"

#include "model/CPnPStatus.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QIcon LevelIcon(int level) {
    const QStyle::StandardPixmap kinds[] = {QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxWarning,
                                            QStyle::SP_MessageBoxCritical};
    const QIcon icon = QApplication::style()->standardIcon(kinds[level < 0 ? 0 : level > 2 ? 2 : level]);
    return QIcon(icon.pixmap(16, 16));
}
}  // namespace

CStatusView::CStatusView(CPnPStatus* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(*element, ctx) {
    auto* layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName("statusList");
    m_list->setColumnCount(1);
    m_list->header()->hide();
    m_list->setRootIsDecorated(false);
    m_list->setIconSize(QSize(16, 16));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    layout->addWidget(m_list);
    m_page.onLines = [this] { Fill(); };
}

void CStatusView::Fill() {
    m_list->clear();
    for (const auto& line : m_page.Lines()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(line.text));
        item->setIcon(0, LevelIcon(line.level));
        item->setData(0, Qt::UserRole, line.level);
    }
    m_list->resizeColumnToContents(0);
}
