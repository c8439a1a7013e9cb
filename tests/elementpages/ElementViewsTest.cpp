// The controls, status and serial number views built from the sample model's elements, driven
// by clicks against a scripted engine.
#include "FakeDevice.h"
#include "app/ui/CPageView.h"
#include "devicedata/ui/elements/CControlsView.h"
#include "devicedata/ui/elements/CSerialView.h"
#include "devicedata/ui/elements/CStatusView.h"
#include "devicedata/ui/elements/ElementPages.h"
#include "link/LinkDefs.h"
#include "model/CPnPControl.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <iterator>
#include <memory>

namespace {
using Bytes = std::vector<uint8_t>;

std::string SampleModel() {
    const char* d = std::getenv("VARO_BIN_DIR");
    std::ifstream f(std::string(d ? d : ".") + "/ModelsPnP/HD-OVL.xml", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

QTreeWidgetItem* Find(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

// The check box of an item, as the operator clicks it.
void ClickCheck(QTreeWidget* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    const QRect r = tree->visualItemRect(item);
    QStyleOptionViewItem opt;
    opt.initFrom(tree->viewport());
    opt.rect = r;
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = tree->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, tree);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box.center());
}
}  // namespace

class ElementViewsTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakeDevice> m_dev;
    template <class T>
    T* Element(int kind) {
        return static_cast<T*>(m_dev->model.FindFirst(kind));
    }

private slots:
    void init() {
        const std::string xml = SampleModel();
        QVERIFY(!xml.empty());
        m_dev = std::make_unique<FakeDevice>(xml);
    }
    void cleanup() { m_dev.reset(); }

    void registeredForTheirKinds() {
        RegisterElementPages();
        struct {
            int kind;
            const char* cls;
        } kinds[] = {{kPnPControls, "CControlsView"}, {kPnPStatus, "CStatusView"}, {kPnPSerial, "CSerialView"}};
        for (const auto& k : kinds) {
            const PageFactory* f = FindPageFactory(k.kind);
            QVERIFY(f);
            std::unique_ptr<CPageView> view((*f)(m_dev->model.FindFirst(k.kind), m_dev->ctx, nullptr));
            QVERIFY(view);
            QCOMPARE(view->metaObject()->className(), k.cls);
            QCOMPARE(view->Element(), m_dev->model.FindFirst(k.kind));
        }
    }

    void controlsTreeClicksAndWrite() {
        auto* el = Element<CPnPControl>(kPnPControls);
        CControlsView view(el, m_dev->ctx);
        view.resize(400, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* write = view.findChild<QPushButton*>("controlsWrite");
        auto* read = view.findChild<QPushButton*>("controlsRead");
        QVERIFY(write && read);
        QVERIFY(!write->isEnabled());  // nothing read yet

        view.Activate();
        QCOMPARE(m_dev->engine.started.size(), size_t(1));
        QCOMPARE(m_dev->engine.started[0].code, int(kCmdRead));
        QCOMPARE(m_dev->engine.started[0].size, 16);
        QCOMPARE(m_dev->engine.started[0].address, 0xF0000200u);
        view.SetIdle(false);
        Bytes record(16, 0);
        record[0] = 0xF5;
        record[1] = 0x80;
        record[9] = 0x3C;  // no switch there: kept by the write
        m_dev->Answer(record);
        view.SetIdle(true);
        QVERIFY(write->isEnabled());

        QTreeWidget* tree = view.Tree();
        QCOMPARE(tree->topLevelItemCount(), 3);
        QTreeWidgetItem* overlay = Find(tree, "Overlay");
        QTreeWidgetItem* output = Find(tree, "Output");
        QVERIFY(overlay && output);
        QVERIFY(overlay->isExpanded());
        QVERIFY(!output->isExpanded());  // collapse="1"
        QCOMPARE(output->childCount(), 4);
        QVERIFY(!(overlay->flags() & Qt::ItemIsUserCheckable));
        QCOMPARE(Find(tree, "Logo")->checkState(0), Qt::Checked);
        QCOMPARE(Find(tree, "Caption")->checkState(0), Qt::Unchecked);
        QCOMPARE(Find(tree, "Program")->checkState(0), Qt::Checked);

        // Clicks: Caption on; in the folded "Output" group Preview replaces Program.
        ClickCheck(tree, Find(tree, "Caption"));
        QCOMPARE(Find(tree, "Caption")->checkState(0), Qt::Checked);
        output->setExpanded(true);
        ClickCheck(tree, Find(tree, "Preview"));
        QCOMPARE(Find(tree, "Preview")->checkState(0), Qt::Checked);
        QCOMPARE(Find(tree, "Program")->checkState(0), Qt::Unchecked);
        // Clicking the chosen one off brings the first choice of the group back.
        ClickCheck(tree, Find(tree, "Preview"));
        QCOMPARE(Find(tree, "Program")->checkState(0), Qt::Checked);
        ClickCheck(tree, Find(tree, "Test table"));
        // The space key on the selected switch toggles it too.
        tree->setCurrentItem(Find(tree, "Bypass"));
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(Find(tree, "Bypass")->checkState(0), Qt::Checked);

        QTest::mouseClick(write, Qt::LeftButton);
        const auto& cmd = m_dev->engine.started.back();
        QCOMPARE(cmd.code, int(kCmdWrite));
        QCOMPARE(cmd.address, 0xF0000200u);
        Bytes expect(16, 0);
        expect[0] = 0xF7;  // Logo, Caption, Clock; 0xF0 kept
        expect[1] = 0x82;  // Test table; bit 7 kept
        expect[2] = 0x01;  // Bypass
        expect[9] = 0x3C;
        QCOMPARE(m_dev->Written(), expect);
        m_dev->Answer();
        QCOMPARE(m_dev->ui.messages.back(), std::string("Write complete."));

        // "Read" gives the device's state back.
        QTest::mouseClick(read, Qt::LeftButton);
        QCOMPARE(m_dev->engine.started.back().code, int(kCmdRead));
        m_dev->Answer(Bytes(16, 0));
        QCOMPARE(Find(view.Tree(), "Logo")->checkState(0), Qt::Unchecked);
        QCOMPARE(Find(view.Tree(), "Program")->checkState(0), Qt::Checked);
    }

    void statusListWithLevelsAndRefresh() {
        CStatusView view(Element<CPnPStatus>(kPnPStatus), m_dev->ctx);
        view.show();
        view.Activate();
        QCOMPARE(m_dev->engine.started.size(), size_t(1));
        QCOMPARE(m_dev->engine.started[0].address, 0xF0000100u);
        QCOMPARE(m_dev->engine.started[0].size, 8);
        m_dev->Answer({0x01, 0x01, 0x80, 0x01});
        QTreeWidget* list = view.List();
        QCOMPARE(list->topLevelItemCount(), 4);
        const char* texts[] = {"Input 1 signal present", "No signal on input 2", "Fan failure", "Stream output running"};
        const int levels[] = {0, 1, 2, 0};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(list->topLevelItem(i)->text(0), QString(texts[i]));
            QCOMPARE(list->topLevelItem(i)->data(0, Qt::UserRole).toInt(), levels[i]);
            QVERIFY(!list->topLevelItem(i)->icon(0).isNull());
        }
        // The main window's idle second on the page reads again.
        view.IdleTick();
        QCOMPARE(m_dev->engine.started.size(), size_t(2));
        m_dev->Answer({0x03, 0x00, 0x00, 0x00});
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("Input 1 signal present"));
        QCOMPARE(list->topLevelItem(1)->text(0), QString("Reference not locked"));
    }

    void serialReadShowsGroups() {
        CSerialView view(Element<CPnPSerial>(kPnPSerial), m_dev->ctx);
        view.show();
        QVERIFY(view.Field()->isReadOnly());
        QVERIFY(view.Field()->text().isEmpty());
        QTest::mouseClick(view.ReadButton(), Qt::LeftButton);
        QCOMPARE(m_dev->engine.started.size(), size_t(1));
        QCOMPARE(m_dev->engine.started[0].code, int(kCmdRead));
        QCOMPARE(m_dev->engine.started[0].address, 0x7000u);
        QCOMPARE(m_dev->engine.started[0].size, 16);
        m_dev->Answer({0x48, 0x44, 0x0A, 0x17, 0, 0, 0, 0x25, 0, 0, 0, 0, 0, 0, 0x30, 0x39});
        QCOMPARE(view.Field()->text(), QString("48440A17-00000025-00000000-00003039"));
        view.SetIdle(false);
        QVERIFY(!view.ReadButton()->isEnabled());
    }
};

QTEST_MAIN(ElementViewsTest)
#include "ElementViewsTest.moc"
