// The test table document: blank table, windows from transparency, signal sets from the frame,
// writing signals under the mask, and ".uit" files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "common/TempDir.h"
#include "signals/ByteStream.h"
#include "signals/CUIT.h"

namespace {
constexpr uint32_t kOpaque = 0x00336699;
constexpr uint32_t kClear = 0xFF000000;

std::vector<uint32_t> Pixels(uint32_t fill = kOpaque) { return std::vector<uint32_t>(702 * 576, fill); }

void Rect(std::vector<uint32_t>& px, int x0, int x1, int y0, int y1, uint32_t v) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) px[size_t(y) * 702 + size_t(x)] = v;
}

std::vector<int> Lengths(const CDataArray& a) {
    std::vector<int> out;
    for (const auto& s : a.spans) out.push_back(s->length);
    return out;
}

bool IsBlackLine(const uint8_t* line) {
    for (int i = 0; i < kFrameLineBytes; i += 4)
        if (line[i] != 0x80 || line[i + 1] != 0x10 || line[i + 2] != 0x80 || line[i + 3] != 0x10) return false;
    return true;
}

// A set with one span of 702 points per component, all of one value each.
SignalSet Flat(double y, double dr, double db) {
    SignalSet s;
    const double v[3] = {y, dr, db};
    for (int c = 0; c < 3; ++c)
        for (double& x : s[c].spans[0]->samples) x = v[c];
    return s;
}

constexpr size_t kWindowRecord = 8 + 3 * (8 + 72 + 702 * 8);
}  // namespace

TEST(UIT, ResetGivesTheBlankTable) {
    CUIT t;
    t.Reset();
    for (int L = 0; L < kFrameLines; ++L) ASSERT_TRUE(IsBlackLine(t.FrameLine(L))) << L;
    EXPECT_EQ(std::count(t.mask.begin(), t.mask.end(), 0xFF), kMaskSize);
    ASSERT_EQ(t.windows.size(), 1u);
    EXPECT_TRUE(t.IsSingleLine());
    for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(t.windows[0].signals[c].spans.size(), 1u);
        const auto& s = *t.windows[0].signals[c].spans[0];
        EXPECT_EQ(s.kind, kSpanConst);
        EXPECT_EQ(s.length, 702);
        EXPECT_EQ(s.param[kC1], 0.0);
    }
}

TEST(UIT, BlankTableFileIsOneLineAndOneWindow) {
    TempDir dir;
    CUIT t;
    t.Reset();
    ASSERT_EQ(t.Save(dir.File("blank.uit")), kFileOk);
    std::string f = TempDir::ReadAll(dir.File("blank.uit"));
    ASSERT_EQ(f.size(), 256 + 1536 + kWindowRecord);
    EXPECT_EQ(f.substr(0, 4), std::string("UIT\x1A", 4));
    uint32_t w[3];
    std::memcpy(w, f.data(), 12);
    EXPECT_EQ(w[1], 1u);
    EXPECT_EQ(w[2], 1u);
    EXPECT_EQ(f.substr(12, 244), std::string(244, '\0'));
    EXPECT_TRUE(IsBlackLine(reinterpret_cast<const uint8_t*>(f.data() + 256)));
    int32_t rec[2];
    std::memcpy(rec, f.data() + 256 + 1536, 8);
    EXPECT_EQ(rec[0], 0);
    EXPECT_EQ(rec[1], 576);

    // Loading replaces whatever the table held: 580 black lines, all-set mask, one window.
    CUIT back;
    std::fill(back.frame.begin(), back.frame.end(), 0x55);
    back.windows.resize(3);
    ASSERT_EQ(back.Load(dir.File("blank.uit")), kFileOk);
    for (int L = 0; L < kFrameLines; ++L) ASSERT_TRUE(IsBlackLine(back.FrameLine(L))) << L;
    EXPECT_EQ(std::count(back.mask.begin(), back.mask.end(), 0xFF), kMaskSize);
    ASSERT_EQ(back.windows.size(), 1u);
    EXPECT_EQ(back.windows[0].signals[2].spans[0]->kind, kSpanConst);
}

TEST(UIT, TableOfTwoWindowsKeepsWholeFrameAndMask) {
    TempDir dir;
    CUIT t;
    t.Reset();
    auto px = Pixels();
    Rect(px, 10, 20, 0, 99, kClear);
    Rect(px, 0, 701, 300, 575, kClear);
    for (size_t i = 0; i < t.frame.size(); ++i) t.frame[i] = uint8_t(i * 7 + i / 1536);
    ASSERT_EQ(t.MaskAndWindowsFromPixels(px.data()), 2);
    t.windows[1].signals[0].spans[0]->param[kReserved] = 3.25;
    ASSERT_EQ(t.Save(dir.File("two.uit")), kFileOk);
    std::string f = TempDir::ReadAll(dir.File("two.uit"));
    uint32_t flag;
    std::memcpy(&flag, f.data() + 8, 4);
    EXPECT_EQ(flag, 0u);

    CUIT back;
    ASSERT_EQ(back.Load(dir.File("two.uit")), kFileOk);
    EXPECT_EQ(back.frame, t.frame);
    EXPECT_EQ(back.mask, t.mask);
    ASSERT_EQ(back.windows.size(), 2u);
    EXPECT_EQ(back.windows[0].start, 0);
    EXPECT_EQ(back.windows[0].count, 100);
    EXPECT_EQ(back.windows[1].start, 300);
    EXPECT_EQ(back.windows[1].count, 276);
    EXPECT_EQ(Lengths(back.windows[0].signals[1]), (std::vector<int>{10, 11, 681}));
    EXPECT_EQ(back.windows[1].signals[0].spans[0]->param[kReserved], 3.25);
    EXPECT_EQ(back.windows[1].signals[1].spans[0]->samples, t.windows[1].signals[1].spans[0]->samples);
}

TEST(UIT, OneWindowNotCoveringEveryLineIsNotALineSignal) {
    TempDir dir;
    CUIT t;
    t.Reset();
    t.windows[0].count = 575;
    EXPECT_FALSE(t.IsSingleLine());
    ASSERT_EQ(t.Save(dir.File("a.uit")), kFileOk);
    EXPECT_EQ(TempDir::ReadAll(dir.File("a.uit")).size(), 256u + kFrameSize + kMaskSize + kWindowRecord);
}

TEST(UIT, WindowsFromTransparency) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint32_t>&)> draw;
        std::vector<std::pair<int, int>> windows;  // start, count
        std::vector<int> spans;                    // of the first window
    } cases[] = {
        {"opaque everywhere", [](auto&) {}, {}, {}},
        {"almost transparent is not enough", [](auto& px) { Rect(px, 0, 701, 0, 575, 0xEF000000); }, {}, {}},
        {"fully transparent", [](auto& px) { Rect(px, 0, 701, 0, 575, kClear); }, {{0, 576}}, {702}},
        {"threshold 0xF0", [](auto& px) { Rect(px, 0, 701, 0, 575, 0xF0FFFFFF); }, {{0, 576}}, {702}},
        {"rectangle", [](auto& px) { Rect(px, 100, 199, 50, 59, kClear); }, {{50, 10}}, {100, 100, 502}},
        {"last line only", [](auto& px) { Rect(px, 700, 701, 575, 575, kClear); }, {{575, 1}}, {700, 2}},
        {"first pixel", [](auto& px) { Rect(px, 0, 0, 0, 0, kClear); }, {{0, 1}}, {1, 701}},
        {"separate bands",
         [](auto& px) {
             Rect(px, 5, 5, 10, 10, kClear);
             Rect(px, 600, 601, 12, 20, kClear);
             Rect(px, 3, 3, 21, 21, kClear);
         },
         {{10, 1}, {12, 10}},
         {5, 1, 696}},
    };
    for (const auto& c : cases) {
        auto px = Pixels();
        c.draw(px);
        CUIT t;
        t.Reset();
        EXPECT_EQ(t.MaskAndWindowsFromPixels(px.data()), int(c.windows.size())) << c.what;
        ASSERT_EQ(t.windows.size(), c.windows.size()) << c.what;
        for (size_t i = 0; i < c.windows.size(); ++i) {
            EXPECT_EQ(t.windows[i].start, c.windows[i].first) << c.what;
            EXPECT_EQ(t.windows[i].count, c.windows[i].second) << c.what;
            for (int comp = 0; comp < 3; ++comp) {
                EXPECT_EQ(t.windows[i].signals[comp].lineLength, 1);
                EXPECT_TRUE(t.windows[i].signals.IsConsistent());
            }
        }
        if (!c.windows.empty()) {
            EXPECT_EQ(Lengths(t.windows[0].signals[0]), c.spans) << c.what;
            for (const auto& s : t.windows[0].signals[2].spans) EXPECT_EQ(s->kind, kSpanPoints);
        }
        for (int r = 0; r < 576; ++r)
            for (int k = 0; k < 702; ++k)
                ASSERT_EQ(t.MaskBit(r, k), (px[size_t(r) * 702 + size_t(k)] >> 24) >= 0xF0) << c.what;
    }
}

TEST(UIT, SignalSetIsReadFromTheMiddleLine) {
    CUIT t;
    t.Reset();
    // Window of lines 20..25: middle line 23. Other lines hold something else.
    for (int L = 20; L < 26; ++L) std::memset(t.FrameLine(L), L == 23 ? 0 : 0xEE, kFrameLineBytes);
    uint8_t* act = t.FrameLine(23) + 18;
    for (int i = 0; i < 1404; ++i) act[i] = uint8_t(i % 251);
    std::memset(t.mask.data(), 0, kMaskSize);
    for (int k = 3; k < 9; ++k) t.SetMaskBit(23, k, true);
    SignalSet s = t.SignalsFromFrame(20, 6);
    EXPECT_EQ(Lengths(s[0]), (std::vector<int>{3, 6, 693}));
    auto sample = [&](int comp, int e) {
        int k = e;
        for (const auto& sp : s[comp].spans) {
            if (k < sp->length) return sp->samples[size_t(k)];
            k -= sp->length;
        }
        return -9999.0;
    };
    for (int e : {0, 1, 2, 3, 8, 9, 500, 701}) {
        EXPECT_EQ(sample(0, e), double((2 * e + 1) % 251)) << e;
        EXPECT_EQ(sample(1, e), double((4 * (e / 2)) % 251) - 128.0) << e;
        EXPECT_EQ(sample(2, e), double((4 * (e / 2) + 2) % 251) - 128.0) << e;
    }
}

TEST(UIT, RoundingOfWrittenValues) {
    struct Case {
        double x;
        int expected;
    } cases[] = {{100.5, 101}, {100.49, 100}, {127.5, 128}, {128.0, 128}, {2.0, 2},
                 {-0.5, 0},    {0.99, 1},     {254.0, 254}, {300.0, 255}, {-40.0, 0}};
    for (const auto& c : cases) EXPECT_EQ(RoundToByte(c.x), c.expected) << c.x;
    EXPECT_EQ(RoundToByte(std::nan("")), 0);
}

TEST(UIT, WritingAWindowTouchesOnlyMaskedPixelsOfItsLines) {
    CUIT t;
    t.Reset();
    std::memset(t.mask.data(), 0, kMaskSize);
    for (int L = 10; L < 14; ++L)
        for (int k = 100; k < 104; ++k) t.SetMaskBit(L, k, true);
    t.SetMaskBit(40, 100, true);  // masked but outside the window
    const std::vector<uint8_t> before = t.frame;
    RVUITWindow w;
    w.start = 10;
    w.count = 4;
    w.signals = Flat(100.5, -0.5, 20.25);
    t.WriteWindow(w);
    for (int L = 0; L < kFrameLines; ++L) {
        const uint8_t* line = t.FrameLine(L);
        for (int b = 0; b < kFrameLineBytes; ++b) {
            int k = (b - 18) / 2;
            bool inside = L >= 10 && L < 14 && b >= 18 && k >= 100 && k < 104;
            uint8_t expect = before[size_t(L) * 1536 + size_t(b)];
            if (inside) {
                if ((b - 18) % 2 == 1)
                    expect = 101;  // luma
                else if (k % 2 == 0)
                    expect = 128;  // Dr from even pixels: 127.5 rounds up
                else
                    expect = 148;  // Db from odd pixels: 148.25
            }
            ASSERT_EQ(line[b], expect) << "line " << L << " byte " << b;
        }
    }
}

TEST(UIT, WrittenWindowReadsBackAsItsSamples) {
    CUIT t;
    t.Reset();
    RVUITWindow& w = t.windows[0];
    for (int c = 0; c < 3; ++c) {
        auto& sp = *w.signals[c].spans[0];
        sp.kind = kSpanPoints;
        for (int i = 0; i < 702; ++i) sp.samples[size_t(i)] = c == 0 ? 16 + i % 200 : (i / 2) % 200 - 100;
    }
    t.WriteAllWindows();
    SignalSet s = t.SignalsFromFrame(0, 576);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(s[c].spans[0]->samples, w.signals[c].spans[0]->samples) << c;
}

namespace {
// A ".uit" file of one window made by hand, so the stored arrays can break the rules.
std::string UitFile(uint32_t flag, const std::vector<std::function<void(CByteSink&)>>& windows, uint32_t count) {
    CByteSink out;
    out.PutU32(kUitMagic);
    out.PutU32(count);
    out.PutU32(flag);
    out.PutZeros(244);
    if (flag)
        for (int i = 0; i < 1536; ++i) out.Put("\x11", 1);
    else
        out.PutZeros(kFrameSize + kMaskSize);
    for (const auto& w : windows) w(out);
    return std::string(out.Bytes().begin(), out.Bytes().end());
}

void PutArray(CByteSink& out, std::vector<std::pair<int, double>> spans) {
    out.PutI32(702);
    out.PutI32(int32_t(spans.size()));
    for (auto [n, v] : spans) {
        CDataSpan s(kSpanSlope, n);
        s.param[kC1] = 5.0;
        for (size_t j = 0; j < s.samples.size(); ++j) s.samples[j] = v + double(j);
        s.Write(out);
    }
}
}  // namespace

TEST(UIT, ChromaNotFollowingLumaIsRepaired) {
    TempDir dir;
    auto window = [](CByteSink& o) {
        o.PutI32(0);
        o.PutI32(576);
        PutArray(o, {{702, 50.0}});
        PutArray(o, {});                            // Dr without spans
        PutArray(o, {{351, -7.0}, {351, 30.0}});    // Db split where Y is not
    };
    TempDir::WriteAll(dir.File("r.uit"), UitFile(1, {window}, 1));
    CUIT t;
    ASSERT_EQ(t.Load(dir.File("r.uit")), kFileOk);
    ASSERT_EQ(t.windows.size(), 1u);
    const auto& sig = t.windows[0].signals;
    EXPECT_EQ(sig[0].spans[0]->kind, kSpanSlope);  // Y kept as stored
    for (int c : {1, 2}) {
        ASSERT_EQ(Lengths(sig[c]), (std::vector<int>{702})) << c;
        const auto& s = *sig[c].spans[0];
        EXPECT_EQ(s.kind, kSpanPoints);
        for (double p : s.param) EXPECT_EQ(p, 0.0);
        const double fill = c == 1 ? 0.0 : -7.0;
        for (double v : s.samples) ASSERT_EQ(v, fill);
    }
    // A single-line file repeats its line everywhere.
    for (int L = 0; L < kFrameLines; ++L) ASSERT_EQ(t.FrameLine(L)[700], 0x11);
}

TEST(UIT, DamagedFilesAreRejectedAndTheTableKept) {
    TempDir dir;
    auto good = [](int start, int count) {
        return [=](CByteSink& o) {
            o.PutI32(start);
            o.PutI32(count);
            PutArray(o, {{2, 1.0}, {700, 2.0}});
            PutArray(o, {{2, 1.0}, {700, 2.0}});
            PutArray(o, {{2, 1.0}, {700, 2.0}});
        };
    };
    auto yArray = [](std::vector<std::pair<int, double>> y) {
        return [=](CByteSink& o) {
            o.PutI32(0);
            o.PutI32(10);
            PutArray(o, y);
            PutArray(o, {{702, 0.0}});
            PutArray(o, {{702, 0.0}});
        };
    };
    struct Case {
        const char* what;
        std::string file;
    } cases[] = {
        {"signal file magic", [] {
             std::string f = UitFile(0, {}, 0);
             f.replace(0, 4, std::string("SIG\x1A", 4));
             return f;
         }()},
        {"header cut short", UitFile(0, {}, 0).substr(0, 200)},
        {"frame cut short", UitFile(0, {}, 0).substr(0, 256 + 1000)},
        {"mask cut short", UitFile(0, {}, 0).substr(0, 256 + kFrameSize + 100)},
        {"line cut short", UitFile(1, {}, 0).substr(0, 256 + 1535)},
        {"more windows than stored", UitFile(1, {good(0, 1)}, 2)},
        {"absurd window count", UitFile(1, {good(0, 1)}, 0xFFFFFFFF)},
        {"window count beyond the lines", UitFile(1, {}, 577)},
        {"window cut short", UitFile(1, {good(0, 1)}, 1).substr(0, 256 + 1536 + 2000)},
        {"negative start", UitFile(1, {good(-1, 5)}, 1)},
        {"start beyond the lines", UitFile(1, {good(576, 1)}, 1)},
        {"no lines", UitFile(1, {good(3, 0)}, 1)},
        {"negative count", UitFile(1, {good(3, -2)}, 1)},
        {"past the last line", UitFile(1, {good(570, 7)}, 1)},
        {"luma shorter than a line", UitFile(1, {yArray({{701, 0.0}})}, 1)},
        {"luma without spans", UitFile(1, {yArray({})}, 1)},
        {"span of no samples", UitFile(1, {yArray({{0, 0.0}, {702, 0.0}})}, 1)},
        {"span longer than a line", UitFile(1, {yArray({{703, 0.0}})}, 1)},
        {"chroma longer than a line", UitFile(1, {[](CByteSink& o) {
                                                      o.PutI32(0);
                                                      o.PutI32(576);
                                                      PutArray(o, {{702, 0.0}});
                                                      PutArray(o, {{702, 0.0}, {1, 0.0}});
                                                      PutArray(o, {{702, 0.0}});
                                                  }},
                                                  1)},
    };
    for (const auto& c : cases) {
        TempDir::WriteAll(dir.File("bad.uit"), c.file);
        CUIT t;
        t.Reset();
        t.frame[5] = 0x42;
        t.mask[9] = 0x03;
        EXPECT_EQ(t.Load(dir.File("bad.uit")), kFileCorrupt) << c.what;
        EXPECT_EQ(t.frame[5], 0x42) << c.what;
        EXPECT_EQ(t.mask[9], 0x03) << c.what;
        ASSERT_EQ(t.windows.size(), 1u) << c.what;
        EXPECT_EQ(t.windows[0].signals[0].spans[0]->kind, kSpanConst) << c.what;
    }
    // The good window itself loads, on the last line too.
    TempDir::WriteAll(dir.File("ok.uit"), UitFile(0, {good(575, 1), good(0, 575)}, 2));
    CUIT t;
    EXPECT_EQ(t.Load(dir.File("ok.uit")), kFileOk);
    EXPECT_EQ(t.windows.size(), 2u);
    EXPECT_EQ(t.Load(dir.File("missing.uit")), kFileCannotOpen);
    EXPECT_EQ(t.Save(dir.File("no/such/dir/x.uit")), kFileCannotCreate);
}
