// The views end to end: clicks go through the real engine to varosim on a pty holding the
// sample model, and what the device holds comes back on screen.
#include "FakeDevice.h"
#include "common/SimDeviceRig.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/ui/elements/CControlsView.h"
#include "devicedata/ui/elements/CSerialView.h"
#include "devicedata/ui/elements/CStatusView.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/LinkTestSupport.h"
#include "model/CPnPControl.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"
#include "sim/CSimImage.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <memory>

namespace {
using Bytes = std::vector<uint8_t>;

QTreeWidgetItem* Find(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

QStringList Texts(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
    return out;
}

// The device, the engine on its pty and a context for the views.
struct SimRig : SimDeviceRig<FakeUi> {
    std::string launched = Launch("HD-OVL.xml", "pointb", kProtoPointB, 1);  // empty when ready
    // Runs the operation a click began to its end, as the main window's message loop would.
    bool Finish() { return ops.Busy() && RunOperation(ops, waiter, serial, 20000) && !ops.Busy(); }
    void Poke(uint32_t offset, const Bytes& b) {
        std::fstream f(sim->Image(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(CSimImage::kHeaderBytes + offset);
        f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    Bytes Direct(uint32_t offset, size_t n) {
        CSimImage img;
        std::string err;
        if (!img.OpenExisting(sim->Image(), err)) return {};
        return Bytes(img.Direct() + offset, img.Direct() + offset + n);
    }
};
}  // namespace

class ElementViewsSimTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<SimRig> m_rig;

private slots:
    void init() {
        m_rig = std::make_unique<SimRig>();
        QVERIFY2(m_rig->launched.empty(), m_rig->launched.c_str());
        QVERIFY(m_rig->sim->Ready());
        QVERIFY(m_rig->model.FindFirst(kPnPControls));
    }
    void cleanup() { m_rig.reset(); }

    void statusListRefreshed() {
        CStatusView view(static_cast<CPnPStatus*>(m_rig->model.FindFirst(kPnPStatus)), m_rig->ctx);
        view.show();
        view.Activate();
        QVERIFY(m_rig->Finish());
        QCOMPARE(Texts(view.List()), QStringList({"Input 1 signal present", "No signal on input 2",
                                                  "Reference not locked", "Stream output running"}));
        m_rig->Poke(0x100, {0x00, 0x01, 0x80, 0x00});
        view.IdleTick();
        QVERIFY(m_rig->Finish());
        QCOMPARE(Texts(view.List()),
                 QStringList({"No signal on input 1", "No signal on input 2", "Fan failure"}));
        QVERIFY(m_rig->ui.messages.empty());
    }

    void serialNumberText() {
        CSerialView view(static_cast<CPnPSerial*>(m_rig->model.FindFirst(kPnPSerial)), m_rig->ctx);
        view.show();
        QTest::mouseClick(view.ReadButton(), Qt::LeftButton);
        QVERIFY(m_rig->Finish());
        QCOMPARE(view.Field()->text(), QString("48440A17-00000025-00000000-00003039"));
    }

    void controlsWriteComposition() {
        CControlsView view(static_cast<CPnPControl*>(m_rig->model.FindFirst(kPnPControls)), m_rig->ctx);
        view.show();
        m_rig->Poke(0x200 + 12, {0xA5});  // no switch there
        view.Activate();
        QVERIFY(m_rig->Finish());
        QTreeWidget* tree = view.Tree();
        QCOMPARE(Find(tree, "Logo")->checkState(0), Qt::Checked);
        // What a click on the check boxes does (the click itself is covered offline).
        Find(tree, "Logo")->setCheckState(0, Qt::Unchecked);
        Find(tree, "Dynamic label")->setCheckState(0, Qt::Checked);
        Find(tree, "Multiscreen")->setCheckState(0, Qt::Checked);
        QCOMPARE(Find(tree, "Program")->checkState(0), Qt::Unchecked);
        view.SetIdle(true);
        QTest::mouseClick(view.findChild<QPushButton*>("controlsWrite"), Qt::LeftButton);
        QVERIFY(m_rig->Finish());
        QCOMPARE(m_rig->ui.messages, std::vector<std::string>{"Write complete."});
        Bytes expect(16, 0);
        expect[0] = 0x0C;  // Clock and Dynamic label
        expect[1] = 0x03;  // Multiscreen
        expect[12] = 0xA5;
        QCOMPARE(m_rig->Direct(0x200, 16), expect);
    }
};

QTEST_MAIN(ElementViewsSimTest)
#include "ElementViewsSimTest.moc"
