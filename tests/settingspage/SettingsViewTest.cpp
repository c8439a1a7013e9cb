// The settings page view built from the sample model's settings elements, driven by clicks
// against a scripted device memory filled the way the simulator fills it.
#include "SettingsFakes.h"
#include "common/TempDir.h"
#include "devicedata/ui/CDefaultTickSlider.h"
#include "devicedata/ui/CSettingsPageView.h"
#include "model/CPnPBlockSettings.h"
#include "sim/SimFromModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace {
using Bytes = std::vector<uint8_t>;

std::string ModelPath() {
    const char* d = std::getenv("VARO_BIN_DIR");
    return std::string(d ? d : ".") + "/ModelsPnP/HD-OVL.xml";
}

std::string ReadAll(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

QTreeWidgetItem* Find(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}
}  // namespace

class SettingsViewTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<FakeSettingsDevice> m_dev;

    CPnPSettings* Element(const std::string& name) {
        for (auto& e : m_dev->model.elements)
            if (e->name == name) return static_cast<CPnPSettings*>(e.get());
        return nullptr;
    }
    void Pump() { m_dev->engine.Pump(m_dev->ops); }
    // The view opened the way the main window does when its tab is chosen.
    std::unique_ptr<CSettingsPageView> Open(const std::string& name) {
        CPnPSettings* el = Element(name);
        if (!el) return nullptr;
        auto view = std::make_unique<CSettingsPageView>(el, m_dev->ctx);
        view->resize(800, 600);
        view->show();
        view->Activate();
        Pump();
        return view;
    }
    void Choose(CSettingsPageView& view, const QString& text) {
        QTreeWidgetItem* item = Find(view.Tree(), text);
        QVERIFY2(item, qPrintable(text));
        view.Tree()->setCurrentItem(item);
        Pump();
    }
    template <class T>
    T* W(CSettingsPageView& view, const char* name) {
        return view.findChild<T*>(name);
    }

private slots:
    void init() {
        m_dev = std::make_unique<FakeSettingsDevice>(ReadAll(ModelPath()));
        SimModelImage img = SimFromModel(ModelPath());
        QCOMPARE(img.result, 0);
        for (const auto& w : img.writes) m_dev->engine.Put(w.address, w.bytes);
    }

    void registration() {
        RegisterSettingsPages();
        for (int kind : {7, 11, 12}) {
            const PageFactory* f = FindPageFactory(kind);
            QVERIFY(f);
            std::unique_ptr<CPageView> page((*f)(m_dev->model.FindFirst(kind), m_dev->ctx, nullptr));
            QVERIFY(dynamic_cast<CSettingsPageView*>(page.get()));
        }
    }

    void blockTreeAndControlsWrite() {
        auto view = Open("Logo and caption");
        QVERIFY(view);
        QTreeWidget* tree = view->Tree();
        QCOMPARE(tree->topLevelItemCount(), 3);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Logo"));
        QVERIFY(tree->topLevelItem(0)->isExpanded());
        QVERIFY(!tree->topLevelItem(1)->isExpanded());  // "Colours" starts folded
        QCOMPARE(tree->topLevelItem(2)->childCount(), 4);

        Choose(*view, "Position X");
        auto* slider = W<QSlider>(*view, "settingsSlider");
        QVERIFY(slider->isVisible());
        QCOMPARE(slider->value(), 1600);
        QCOMPARE(W<QLabel>(*view, "settingsValueText")->text(), QString("1600"));
        QVERIFY(!W<QComboBox>(*view, "settingsList")->isVisible());
        QTest::mouseClick(W<QPushButton>(*view, "settingsUp"), Qt::LeftButton);
        Pump();
        QCOMPARE(m_dev->engine.Writes().size(), size_t(1));
        const auto& w = m_dev->engine.Writes()[0];
        QCOMPARE(w.address, 0x3000u);
        QCOMPARE(w.size, 128);
        QVERIFY(PnPBlockSealOk(w.data));
        QCOMPARE(int(w.data[1] | w.data[2] << 8), 1602);
        QCOMPARE(W<QLabel>(*view, "settingsValueText")->text(), QString("1602"));

        Choose(*view, "Caption ID");
        auto* text = W<QLineEdit>(*view, "settingsText");
        QVERIFY(text->isVisible() && text->isEnabled());
        QCOMPARE(text->text(), QString("CAM1"));
        text->setText("XY");
        QTest::mouseClick(W<QPushButton>(*view, "settingsSet"), Qt::LeftButton);
        Pump();
        QCOMPARE(m_dev->engine.Get(0x3060, 4), (Bytes{'X', 'Y', 0, 0}));

        Choose(*view, "Luma key");
        auto* check = W<QCheckBox>(*view, "settingsCheck");
        QVERIFY(check->isVisible());
        QCOMPARE(check->text(), QString("Luma key"));
        QVERIFY(!check->isChecked());
        check->click();  // the label, not the middle of a wide box
        Pump();
        QCOMPARE(m_dev->engine.Get(0x3000 + 7, 1)[0], uint8_t(1));
        QVERIFY(check->isChecked());

        // The colour button asks the chooser; red is written converted.
        tree->topLevelItem(1)->setExpanded(true);
        Choose(*view, "Caption box");
        auto* colour = W<QPushButton>(*view, "settingsColour");
        QVERIFY(colour->isVisible());
        view->chooseColour = [](uint32_t, uint32_t& chosen) {
            chosen = 0x0000FF;
            return true;
        };
        QTest::mouseClick(colour, Qt::LeftButton);
        Pump();
        QCOMPARE(m_dev->engine.Writes().size(), size_t(4));
        Bytes ycc = m_dev->engine.Get(0x3013, 3);
        QVERIFY(ycc[2] > 190);  // strong Cr for red
        QVERIFY(PnPBlockSealOk(m_dev->engine.Get(0x3000, 128)));
    }

    // One tick, where the default value sits, and none at the multiples of its position.
    void sliderTickAtTheDefaultOnly() {
        struct Case {
            const char* node;
            int tick;  // slider position of the default
        } cases[] = {
            {"Position Y", 40},             // 0..952, default 40
            {"Position X", 1600},           // 0..1664, default 1600
            {"Fade time (s)", 10},          // 0..100, default 10
            {"Opacity (%)", 255},           // default at the end of the range
        };
        auto view = Open("Logo and caption");
        QVERIFY(view);
        for (const auto& c : cases) {
            Choose(*view, c.node);
            auto* slider = W<CDefaultTickSlider>(*view, "settingsSlider");
            QVERIFY2(slider && slider->isVisible(), c.node);
            QCOMPARE(slider->DefaultTick(), c.tick);
            // Read the marks off the drawn slider: columns of the bottom rows that differ from
            // the background. A one-pixel line is one column; the handle never reaches there.
            {
                // Only the drawing moves the handle out of the way: nothing is written.
                const QSignalBlocker quiet(slider);
                slider->setValue(slider->minimum() == c.tick ? slider->maximum() : slider->minimum());
            }
            const QImage img = slider->grab().toImage();
            const int y = img.height() - 3;
            const QRgb bg = img.pixel(0, y);
            QList<int> marks;
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != bg && (marks.isEmpty() || marks.back() != x - 1)) marks.append(x);
            QCOMPARE(marks.size(), 1);
            QVERIFY2(std::abs(marks.front() - slider->DefaultTickX()) <= 1, c.node);
        }
    }

    void registerListWritesOneByte() {
        auto view = Open("Live adjustments");
        QVERIFY(view);
        // One root heading with the four settings; "Reserved" is not on this device.
        QCOMPARE(view->Tree()->topLevelItemCount(), 1);
        QCOMPARE(view->Tree()->topLevelItem(0)->childCount(), 4);
        Choose(*view, "Preview pattern");
        auto* list = W<QComboBox>(*view, "settingsList");
        QVERIFY(list->isVisible() && list->isEnabled());
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->currentIndex(), 0);
        emit list->activated(0);  // the same entry: nothing
        Pump();
        QVERIFY(m_dev->engine.Writes().empty());
        emit list->activated(2);
        Pump();
        QCOMPARE(m_dev->engine.Writes().size(), size_t(1));
        QCOMPARE(m_dev->engine.Writes()[0].address, 0xF000000Fu);
        QCOMPARE(m_dev->engine.Writes()[0].size, 1);
        QCOMPARE(m_dev->engine.Writes()[0].data[0], uint8_t(2));
    }

    void flagButtons() {
        // The sample's only flags node is a page root, which shows no control: a model of its own.
        m_dev = std::make_unique<FakeSettingsDevice>(R"(<device><pnp>
<settings_block name="Out" address="0x2000" size="16">
  <node name="Video">
    <node name="Output options" address="0" size="1" default="3">
      <checkbox mask="0x01" value="0x01" name="Embed audio"/>
      <checkbox mask="0x0C" value="0x00" name="BT.709"/>
      <checkbox mask="0x0C" value="0x04" name="BT.2020"/>
    </node>
  </node>
</settings_block></pnp></device>)");
        m_dev->engine.Put(0x2000, {0x03});
        auto out = Open("Out");
        QVERIFY(out);
        Choose(*out, "Output options");
        auto* embed = W<QCheckBox>(*out, "settingsFlagCheck0");
        QVERIFY(embed->isVisible() && embed->isChecked());
        QVERIFY(!W<QRadioButton>(*out, "settingsFlagRadio0")->isVisible());
        QVERIFY(!W<QCheckBox>(*out, "settingsFlagCheck3")->isVisible());
        auto* bt709 = W<QRadioButton>(*out, "settingsFlagRadio1");
        auto* bt2020 = W<QRadioButton>(*out, "settingsFlagRadio2");
        QVERIFY(bt2020->isVisible());
        QCOMPARE(bt2020->text(), QString("BT.2020"));
        QVERIFY(bt709->isChecked() && !bt2020->isChecked());
        bt2020->click();
        Pump();
        QCOMPARE(m_dev->engine.Get(0x2000, 1)[0], uint8_t(0x07));
        QVERIFY(bt2020->isChecked() && !bt709->isChecked());
        embed->click();
        Pump();
        QCOMPARE(m_dev->engine.Get(0x2000, 1)[0], uint8_t(0x06));
        QVERIFY(!embed->isChecked());
        QCOMPARE(m_dev->engine.Writes().size(), size_t(2));
    }

    void streamOutput() {
        auto net = Open("Network");
        QVERIFY(net);
        Choose(*net, "Stream output");
        QVERIFY(W<QWidget>(*net, "settingsIpout")->isVisible());
        auto* start = W<QPushButton>(*net, "settingsStart");
        auto* stop = W<QPushButton>(*net, "settingsStop");
        QVERIFY(start->isEnabled() && !start->isChecked());
        QVERIFY(!stop->isEnabled() && stop->isChecked());
        QCOMPARE(W<QLineEdit>(*net, "settingsPort")->text(), QString("5004"));
        QCOMPARE(W<QComboBox>(*net, "settingsMode")->currentIndex(), 0);
        W<QLineEdit>(*net, "settingsIp3")->setText("");
        size_t writes = m_dev->engine.Writes().size();
        QTest::mouseClick(start, Qt::LeftButton);  // incomplete address: nothing
        Pump();
        QCOMPARE(m_dev->engine.Writes().size(), writes);
        W<QLineEdit>(*net, "settingsIp3")->setText("9");
        W<QLineEdit>(*net, "settingsPort")->setText("6000");
        QTest::mouseClick(start, Qt::LeftButton);
        Pump();
        Bytes s = m_dev->engine.Get(0x5010, 12);
        QCOMPARE(s, (Bytes{0x11, 0x00, 239, 200, 0, 9, 0x17, 0x70, 0x00, 0x01, 0x01, 0x00}));
        QVERIFY(start->isChecked() && !start->isEnabled());
        QVERIFY(stop->isEnabled());
        QTest::mouseClick(stop, Qt::LeftButton);
        Pump();
        QCOMPARE(m_dev->engine.Get(0x5010, 1)[0], uint8_t(0x10));
        QVERIFY(!stop->isEnabled());
    }

    void rootResetAndReport() {
        auto view = Open("Logo and caption");
        QVERIFY(view);
        TempDir dir;
        view->Page().reportFolder = dir.Path();
        QStringList opened;
        view->openFile = [&](const QString& p) { opened << p; };
        view->Tree()->setCurrentItem(view->Tree()->topLevelItem(0));
        Pump();
        auto* reset = W<QPushButton>(*view, "settingsReset");
        auto* print = W<QPushButton>(*view, "settingsPrint");
        QVERIFY(reset->isVisible() && print->isVisible());
        QVERIFY(W<QLabel>(*view, "settingsCaption")->isVisible());
        QVERIFY(!W<QSlider>(*view, "settingsSlider")->isVisible());
        m_dev->engine.Put(0x3001, {0x00, 0x00});  // Position X moved on the device
        m_dev->ui.answer = true;
        QTest::mouseClick(reset, Qt::LeftButton);
        Pump();
        QCOMPARE(m_dev->ui.questions.size(), size_t(1));
        QCOMPARE(m_dev->engine.Writes().size(), size_t(1));
        QCOMPARE(m_dev->engine.Get(0x3001, 2), (Bytes{0x40, 0x06}));  // 1600
        QCOMPARE(QString::fromStdString(m_dev->ui.messages.back()), QString("Write complete."));

        QTest::mouseClick(print, Qt::LeftButton);
        QCOMPARE(opened.size(), 1);
        QVERIFY(std::filesystem::exists(opened[0].toStdString()));
        QVERIFY(QString::fromStdString(ReadAll(opened[0].toStdString())).startsWith("Logo\r\n  Logo slot : Logo 1\r\n"));
    }

    void busyTreeKeepsSelection() {
        auto view = Open("Output");
        QVERIFY(view);
        Choose(*view, "Output delay (frames)");
        QTest::mouseClick(W<QPushButton>(*view, "settingsUp"), Qt::LeftButton);  // write pending
        QVERIFY(m_dev->ops.Busy());
        view->SetIdle(false);
        QVERIFY(!view->Tree()->isEnabled());
        QTreeWidgetItem* before = view->Tree()->currentItem();
        view->Tree()->setCurrentItem(Find(view->Tree(), "Black level"));
        QCOMPARE(view->Tree()->currentItem(), before);
        Pump();
        view->SetIdle(true);
        QVERIFY(view->Tree()->isEnabled());
        QVERIFY(W<QPushButton>(*view, "settingsUp")->isEnabled());
        QVERIFY(W<QPushButton>(*view, "settingsReset")->isEnabled());

        // The slider stays usable while its value is written and is followed afterwards.
        auto* slider = W<QSlider>(*view, "settingsSlider");
        QCOMPARE(slider->value(), 1);
        slider->setValue(2);
        QVERIFY(m_dev->ops.Busy());
        view->SetIdle(false);
        QVERIFY(slider->isEnabled());
        QVERIFY(!W<QPushButton>(*view, "settingsUp")->isEnabled());
        slider->setValue(5);  // refused now, followed when the write ends
        Pump();
        view->SetIdle(true);
        QCOMPARE(m_dev->engine.Writes().size(), size_t(3));
        QCOMPARE(m_dev->engine.Get(0x2001, 1)[0], uint8_t(5));
        QCOMPARE(slider->value(), 5);
    }
};

QTEST_MAIN(SettingsViewTest)
#include "SettingsViewTest.moc"
