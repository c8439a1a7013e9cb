// Compressed pictures through the real window against varosim over TCP: a full-HD PNG loaded
// (compressed off the window's thread while the window keeps answering), written into a slot
// and found in the device's memory byte for byte, then read back after another picture was
// loaded, and decompressed to the written picture within the codec's quality.
#include "app/ProgramFolder.h"
#include "app/WindowSimRig.h"
#include "model/CPnPPicsCompressed.h"
#include "pictures/CompressedPicture.h"
#include "pictures/ui/CPicturesView.h"

#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <filesystem>
#include <memory>

namespace {
QString BinDir() { return qEnvironmentVariable("VARO_BIN_DIR") + "/"; }

CPicture Slide(uint32_t seed) {
    CPicture p(1920, 1080);
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x) {
            const uint32_t r = uint32_t(x * 255 / 1920) ^ (seed & 0xFF), g = uint32_t(y * 255 / 1080),
                           b = uint32_t(((x / 64 + y / 64 + seed) & 1) ? 200 : 40);
            p.At(x, y) = (r << 16) | (g << 8) | b;
        }
    return p;
}

double Psnr(const CPicture& a, const CPicture& b) {
    double se = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            for (int s : {0, 8, 16}) {
                const double d = double((a.At(x, y) >> s) & 0xFF) - double((b.At(x, y) >> s) & 0xFF);
                se += d * d;
            }
    const double mse = se / (double(a.Width()) * a.Height() * 3);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

const char* const kUnit = R"(<settings name="Unit" address="0x1F0000">
    <node name="Unit"><node name="Mode" address="0" sim_min="0" sim_max="1" sim_default="0"/></node>
  </settings>)";
}  // namespace

class MainWinCompressedTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempDir> m_dir;
    RWindowOperator m_op;
    RWindowSimDevice m_dev;

    static bool Idle(CMainWin& w) { return !w.Ops().Busy(); }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        SetProgramFolder(BinDir().toStdString());
        AppStore().SetPath(m_dir->File("VaroConfig.ini"));
        m_op = {};
    }
    void cleanup() { m_dev = {}; }

    void writeAndReadBackOverTcp_data() {
        QTest::addColumn<int>("codec");
        QTest::newRow("system codec") << 1;
        QTest::newRow("DNxHD") << 0;
    }

    void writeAndReadBackOverTcp() {
        QFETCH(int, codec);
        if (codec == 0 && FfmpegPath().empty()) QSKIP("no ffmpeg on this machine");
        std::filesystem::create_directories(m_dir->File("ModelsPnP"));
        const std::string modelFile = m_dir->File("ModelsPnP/CMP-TCP.xml");
        TempDir::WriteAll(modelFile, "<?xml version=\"1.0\"?>\n<device><pnp>" + std::string(kUnit) +
                                         "<pictures_compressed name=\"Slides\" width=\"1920\" height=\"1080\" format=\"" +
                                         std::to_string(codec) +
                                         "\" info=\"Full-HD slides.\"><item name=\"Slide 1\" address=\"0x200000\"/>"
                                         "<item name=\"Slide 2\" address=\"0x300000\"/></pictures_compressed>"
                                         "</pnp></device>\n");
        SetProgramFolder(m_dir->Path() + "/");
        QVERIFY(m_dev.Start(*m_dir, 3, modelFile));
        const CPicture first = Slide(1), second = Slide(0x80);
        const std::string png1 = m_dir->File("one.png"), png2 = m_dir->File("two.png");
        QCOMPARE(first.SavePNG(png1), 0);
        QCOMPARE(second.SavePNG(png2), 0);

        CMainWin w;
        m_op.Attach(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(w.SelectPage("Slides"));
        auto* view = qobject_cast<CPicturesView*>(w.CurrentPageView());
        QVERIFY(view);
        auto& el = static_cast<CPnPPicsCompressed&>(*view->Element());
        QVERIFY(!view->LumaKeyBox());  // not offered for compressed pictures
        QVERIFY(!view->WriteButton()->isEnabled());

        // Load returns at once; the work runs as an operation and the window stays responsive.
        std::string chosen = png1;
        view->chooseFile = [&](const QString&, const QString&) { return QString::fromStdString(chosen); };
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QCOMPARE(w.Ops().Kind(), int(kOpLocalWork));
        QVERIFY(!view->LoadButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(el.loaded);
        QVERIFY(view->WriteButton()->isEnabled());
        QCOMPARE(el.deviceBuffer.size(), size_t(el.SlotSize()));
        const std::vector<uint8_t> written = el.deviceBuffer;

        view->WriteMenu()->actions().at(1)->trigger();
        QCOMPARE(m_op.questions, QStringList{"Data will be written to device.\n\nDo you want to continue?"});
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QCOMPARE(m_op.messages, QStringList{"Write complete."});
        QVERIFY(m_dev.Bytes(0x300000, written.size()) == written);
        m_op.messages.clear();

        // Another picture in the element, then the slot read back: the written one returns.
        chosen = png2;
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QVERIFY(Psnr(second, el.picture) > 30.0);
        view->ReadMenu()->actions().at(1)->trigger();
        // The read, then its decompression as an operation of its own: idle only after both.
        QVERIFY(!Idle(w));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QVERIFY(el.deviceBuffer == written);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(el.loaded);
        // PSNR floors: the system codec at its 1171-unit budget keeps this slide above 34 dB;
        // DNxHD through ffmpeg's studio-range conversion above 27 dB.
        const double floor = codec == 1 ? 34.0 : 27.0;
        const double psnr = Psnr(first, el.picture);
        QVERIFY2(psnr > floor, qPrintable(QString::number(psnr)));
        QVERIFY(Psnr(second, el.picture) < psnr);
    }
};

QTEST_MAIN(MainWinCompressedTest)
#include "MainWinCompressedTest.moc"
