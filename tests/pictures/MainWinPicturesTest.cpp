// The pictures page through the real window against varosim: a PNG loaded, written into a
// slot (RS-232 by its 64 KB blocks, TCP directly) and found in the device's memory, another
// slot read back into the preview; a text label drawn with a chosen font and colour, written,
// and its preferences and the page's choices back after a restart.
#include "app/ProgramFolder.h"
#include "app/WindowSimRig.h"
#include "model/CPnPPics.h"
#include "pictures/PictureConvert.h"
#include "pictures/ui/CColorButton.h"
#include "pictures/ui/CPicCtrl.h"
#include "pictures/ui/CPicturesView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <memory>

namespace {
QString BinDir() { return qEnvironmentVariable("VARO_BIN_DIR") + "/"; }

CPicture Logo(int w, int h, uint32_t key, uint32_t ink) {
    CPicture p(w, h);
    p.Fill(key);
    p.Fill(ink, 0, w / 4, h / 4, w / 2, h / 2);
    return p;
}

const char* const kUnit = R"(<settings name="Unit" address="0x1F0000">
    <node name="Unit"><node name="Mode" address="0" sim_min="0" sim_max="1" sim_default="0"/></node>
  </settings>)";
}  // namespace

class MainWinPicturesTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempDir> m_dir;
    RWindowOperator m_op;
    RWindowSimDevice m_dev;

    static bool Idle(CMainWin& w) { return !w.Ops().Busy(); }

    // A device for the model file on the connection, and the store set up to reach it.
    bool StartDevice(int interface, const std::string& modelFile) {
        return m_dev.Start(*m_dir, interface, modelFile, {"--dialect", "short2"});
    }
    void Hook(CMainWin& w) { m_op.Attach(w); }

    std::string ModelFile(const std::string& name, const std::string& body) {
        std::filesystem::create_directories(m_dir->File("ModelsPnP"));
        const std::string path = m_dir->File("ModelsPnP/" + name + ".xml");
        TempDir::WriteAll(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<device><pnp>" + body + "</pnp></device>\n");
        SetProgramFolder(m_dir->Path() + "/");
        return path;
    }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        SetProgramFolder(BinDir().toStdString());
        AppStore().SetPath(m_dir->File("VaroConfig.ini"));
        m_op = {};
    }
    void cleanup() {
        m_dev = {};
    }

    void loadWriteAndReadBack_data() {
        QTest::addColumn<int>("interface");
        QTest::newRow("RS-232") << 0;
        QTest::newRow("TCP") << 3;
    }

    void loadWriteAndReadBack() {
        QFETCH(int, interface);
        // RS-232: a 64000-byte slot in the middle of a block, written by reading and writing
        // back the blocks around it. TCP: the sample model's logos, written directly.
        std::string modelFile;
        uint32_t slot0, slot1;
        if (interface == 0) {
            modelFile = ModelFile("PIC-232", std::string(kUnit) + R"(
  <pictures name="Logos" width="320" height="100" newformat="2" lumakey="1" info="Logos are 320 x 100.">
    <item name="Logo 1" address="0x123456"/><item name="Logo 2" address="0x130000"/>
  </pictures>)");
            slot0 = 0x123456;
            slot1 = 0x130000;
        } else {
            modelFile = BinDir().toStdString() + "ModelsPnP/HD-OVL.xml";
            slot0 = 0x020000;  // "Logo 1"
            slot1 = 0x040000;  // "Logo 2"
        }
        QVERIFY(StartDevice(interface, modelFile));
        const int w = interface == 0 ? 320 : 256, h = interface == 0 ? 100 : 128;
        const std::string png = m_dir->File("logo.png");
        QCOMPARE(Logo(w, h, 0x00204080, 0x00F0E0D0).SavePNG(png), 0);
        // Data beside the RS-232 slot that the write must keep.
        const std::vector<uint8_t> beside(16, 0x5A);
        if (interface == 0) m_dev.Put(slot0 - 16, beside);

        CMainWin w1;
        Hook(w1);
        w1.show();
        w1.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w1) && w1.Session().model, 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(interface == 0 ? w1.SelectPage("Logos") : w1.SelectPage("Pictures", "Logos"));
        auto* view = qobject_cast<CPicturesView*>(w1.CurrentPageView());
        QVERIFY(view);
        auto& el = static_cast<CPnPPics&>(*view->Element());
        QVERIFY(!view->WriteButton()->isEnabled());
        QVERIFY(!view->SaveButton()->isEnabled());
        QVERIFY(view->ReadButton()->isEnabled());
        // The luma key's lists follow its check box.
        QVERIFY(view->LumaKeyBox());
        QVERIFY(!view->LumaKeyBox()->isChecked());
        QVERIFY(!view->TransparencyList()->isEnabled());
        view->LumaKeyBox()->setChecked(true);
        QVERIFY(view->ShadowTypeList()->isEnabled());
        view->TransparencyList()->setCurrentIndex(5);
        QCOMPARE(w1.Settings().shadow, 1);
        QCOMPARE(w1.Settings().shadowTransp, 5);

        view->chooseFile = [&](const QString&, const QString&) { return QString::fromStdString(png); };
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(view->WriteButton()->isEnabled());
        QCOMPARE(QString::fromStdString(w1.Settings().pictures), QString::fromStdString(m_dir->Path() + "/"));
        // Keyed: the corner colour is gone, the middle got 50 % transparency (80).
        QCOMPARE(el.picture.At(0, 0) >> 24, 255u);
        QCOMPARE(el.picture.At(w / 2, h / 2) >> 24, 80u);
        // The preview shows the logo over the checkerboard.
        const QImage& shown = view->Preview()->Image();
        QCOMPARE(shown.size(), QSize(view->PreviewPicture().Width(), view->PreviewPicture().Height()));
        QCOMPARE(view->BackgroundList()->currentIndex(), 2);

        const std::vector<uint8_t> written = el.deviceBuffer;
        const std::vector<uint8_t> blocksBefore = m_dev.Bytes(slot0 & ~0xFFFFu, 0x20000);
        view->WriteMenu()->actions().at(0)->trigger();
        QCOMPARE(m_op.questions, QStringList{"Data will be written to device.\n\nDo you want to continue?"});
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w1), 60000);
        QCOMPARE(m_op.messages, QStringList{"Write complete."});
        QVERIFY(m_dev.Bytes(slot0, written.size()) == written);
        if (interface == 0) {
            QVERIFY(m_dev.Bytes(slot0 - 16, 16) == beside);
            const std::vector<uint8_t> after = m_dev.Bytes(slot0 & ~0xFFFFu, 0x20000);
            const size_t off = slot0 & 0xFFFF;
            QVERIFY(std::equal(blocksBefore.begin(), blocksBefore.begin() + long(off), after.begin()));
            QVERIFY(std::equal(blocksBefore.begin() + long(off + written.size()), blocksBefore.end(),
                               after.begin() + long(off + written.size())));
        }
        m_op.messages.clear();

        // Another picture in the other slot, read back into the element and the preview.
        CPicture other = Logo(w, h, 0x00000000, 0x0000FF00);
        std::vector<uint8_t> otherBytes(written.size());
        QVERIFY(PictureToDevice(other, !el.standardDefinition, el.format, el.saturation, otherBytes.data(),
                                otherBytes.size(), el.EffectiveLineLength()));
        m_dev.Put(slot1, otherBytes);
        view->ReadMenu()->actions().at(1)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w1), 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(el.deviceBuffer == otherBytes);
        // The preview was refreshed with it: the green middle is in the middle of the preview.
        const CPicture& pv = view->PreviewPicture();
        const uint32_t mid = pv.At(pv.Width() / 2, pv.Height() / 2) & 0x00FFFFFF;
        QVERIFY2(((mid >> 8) & 0xFF) > 0xC0 && (mid & 0xFF) < 0x40, qPrintable(QString::number(mid, 16)));
        QCOMPARE(shown.pixel(pv.Width() / 2, pv.Height() / 2) & 0x00FFFFFFu, mid);
    }

    void textLabelWithPreferencesAcrossARestart() {
        const std::string bg = m_dir->File("caption-bg.png");
        CPicture back(240, 48);
        back.Fill(0x00103050);
        QCOMPARE(back.SavePNG(bg), 0);
        const std::string modelFile = ModelFile("CAP-TCP", std::string(kUnit) + R"(
  <pictext name="Caption" width="240" height="48" newformat="3" x="120" y="34" align="center" font="DejaVu Sans"
           fontsize="12" color="0xFFFFFF" background=")" + bg + R"(">
    <item name="Caption" address="0x0A0000"/>
  </pictext>)");
        QVERIFY(StartDevice(3, modelFile));
        const CFontRecord chosen = PointFont("DejaVu Serif", 20, 700);
        {
            CMainWin w1;
            Hook(w1);
            w1.show();
            w1.Start();
            QTRY_VERIFY_WITH_TIMEOUT(Idle(w1) && w1.Session().model, 60000);
            QVERIFY(w1.SelectPage("Caption"));
            auto* view = qobject_cast<CPicturesView*>(w1.CurrentPageView());
            QVERIFY(view);
            auto& el = static_cast<CPnPPicText&>(*view->Element());
            QVERIFY(view->LabelText()->isEnabled());
            QVERIFY(view->WriteButton()->isEnabled());  // the background is a picture already
            QVERIFY(!view->LumaKeyBox());
            QTest::keyClicks(view->LabelText(), "On air");
            QCOMPARE(QString::fromStdString(el.text), QString("On air"));
            view->chooseFont = [&](const QFont& initial) -> std::optional<QFont> {
                if (initial.family() != "DejaVu Sans" || initial.pointSize() != 12) return std::nullopt;
                return FontRecordToQFont(chosen);
            };
            QTest::mouseClick(view->FontButton(), Qt::LeftButton);
            QCOMPARE(QString::fromStdString(el.font.FaceName()), QString("DejaVu Serif"));
            QCOMPARE(el.font.weight, 700);
            view->ColourButton()->chooseColour = [](const QColor&) { return QColor(255, 0, 0); };
            QTest::mouseClick(view->ColourButton(), Qt::LeftButton);
            QCOMPARE(el.colour, 0x0000FFu);
            // Red text over the background, in the preview too.
            bool red = false;
            for (int x = 0; x < 240; ++x) red |= (el.picture.At(x, 28) & 0x00FFFFFF) == 0x00FF0000;
            QVERIFY(red);
            view->DitherBox()->setChecked(true);
            view->BackgroundList()->setCurrentIndex(1);

            view->WriteMenu()->actions().at(0)->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(Idle(w1), 60000);
            QCOMPARE(m_op.messages, QStringList{"Write complete."});
            QVERIFY(m_dev.Bytes(0x0A0000, el.deviceBuffer.size()) == el.deviceBuffer);
            w1.close();
        }
        // The window wrote its choices when it closed; the label's font and colour were kept
        // when they were chosen.
        QCOMPARE(AppStore().ReadInt("Main", "Dither", 0), 1);
        QCOMPARE(AppStore().ReadInt("Main", "Background", 2), 1);
        QCOMPARE(AppStore().ReadInt("PnP_Preferences", "int_CAP-TCP_1", -1), 0x0000FF);

        CMainWin w2;
        Hook(w2);
        w2.show();
        w2.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w2) && w2.Session().model, 60000);
        QVERIFY(w2.SelectPage("Caption"));
        auto* view = qobject_cast<CPicturesView*>(w2.CurrentPageView());
        QVERIFY(view);
        auto& el = static_cast<CPnPPicText&>(*view->Element());
        QVERIFY(el.font == chosen);
        QCOMPARE(el.colour, 0x0000FFu);
        QCOMPARE(view->ColourButton()->Colour(), 0x0000FFu);
        QVERIFY(view->DitherBox()->isChecked());
        QCOMPARE(view->BackgroundList()->currentIndex(), 1);
        // "Default" goes back to the model's font and colour, and keeps them.
        QTest::mouseClick(view->DefaultButton(), Qt::LeftButton);
        QVERIFY(el.font == el.defaultFont);
        QCOMPARE(AppStore().ReadInt("PnP_Preferences", "int_CAP-TCP_1", -1), 0xFFFFFF);
    }
};

QTEST_MAIN(MainWinPicturesTest)
#include "MainWinPicturesTest.moc"
