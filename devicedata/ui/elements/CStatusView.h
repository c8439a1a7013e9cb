#pragma once
#include "app/ui/CPageView.h"
#include "devicedata/StatusPage.h"

class CPnPStatus;
class QTreeWidget;

// The status page: the messages the device raises, each with the icon of its level, read
// when the page is opened and again on every idle second while it is shown.
class CStatusView : public CPageView {
    Q_OBJECT
public:
    CStatusView(CPnPStatus* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void Activate() override { m_page.Read(); }
    void IdleTick() override { m_page.IdleTick(); }
    void SetIdle(bool) override {}  // a list to look at: it stays readable while the record is read

    QTreeWidget* List() const { return m_list; }
    CStatusPage& Page() { return m_page; }

private:
    void Fill();

    CStatusPage m_page;
    QTreeWidget* m_list = nullptr;
};
