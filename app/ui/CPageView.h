#pragma once
#include "devicedata/DeviceContext.h"

#include <QWidget>

#include <functional>

class CPnPBlock;

// One page of the main window: the view of one model element. The main window creates a
// page's view through the factory registered for the element's kind, shows it when its tab
// is chosen, and tells it when operations begin and end. Device steps and algorithms live in
// Qt-free classes the view drives; the view only turns clicks into calls and shows results.
class CPageView : public QWidget {
    Q_OBJECT
public:
    CPageView(CPnPBlock* element, RDeviceContext& ctx, QWidget* parent = nullptr)
        : QWidget(parent), m_element(element), m_ctx(ctx) {}
    ~CPageView() override = default;

    CPnPBlock* Element() const { return m_element; }

    // The page became the current one (settings pages start their read here).
    virtual void Activate() {}
    // The page stops being current.
    virtual void Deactivate() {}
    // Idle: enable the controls the page's data allows; busy: disable them all.
    virtual void SetIdle(bool idle) { setEnabled(idle); }
    // The one-second timer while idle on this page (the status page refreshes).
    virtual void IdleTick() {}

protected:
    CPnPBlock* m_element;
    RDeviceContext& m_ctx;
};

using PageFactory = std::function<CPageView*(CPnPBlock* element, RDeviceContext& ctx, QWidget* parent)>;

// One factory per element kind; the last registration wins.
void RegisterPageFactory(int kind, PageFactory factory);
// nullptr when no page is registered for the kind (the main window shows a plain placeholder).
const PageFactory* FindPageFactory(int kind);
// Registers every page the program has; called once by the main window.
void RegisterAllPages();
