// Signal files: layout, round trip, and rejection of damaged files without touching the set.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "common/TempDir.h"
#include "signals/ByteStream.h"
#include "signals/SignalSet.h"

namespace {
SignalSet SampleSet() {
    SignalSet set;
    const int lengths[] = {5, 300, 397};
    for (int c = 0; c < kComponents; ++c) {
        CDataArray& a = set[c];
        a.lineLength = c == 2 ? 1 : 702;
        a.spans.clear();
        for (int i = 0; i < 3; ++i) {
            auto s = std::make_unique<CDataSpan>(i == 2 ? 17 : i + c, lengths[i]);
            for (int p = 0; p < kParamCount; ++p) s->param[p] = c * 100 + i * 10 + p + 0.125;
            s->param[kReserved] = -1.5e300 + c;
            for (size_t j = 0; j < s->samples.size(); ++j) s->samples[j] = double(j) * 0.5 - c;
            a.spans.push_back(std::move(s));
        }
    }
    return set;
}

void ExpectEqualSets(const SignalSet& a, const SignalSet& b) {
    for (int c = 0; c < kComponents; ++c) {
        EXPECT_EQ(a[c].lineLength, b[c].lineLength);
        ASSERT_EQ(a[c].spans.size(), b[c].spans.size());
        for (size_t i = 0; i < a[c].spans.size(); ++i) {
            const auto &x = *a[c].spans[i], &y = *b[c].spans[i];
            EXPECT_EQ(x.kind, y.kind);
            EXPECT_EQ(x.length, y.length);
            EXPECT_EQ(0, std::memcmp(x.param, y.param, sizeof x.param));
            EXPECT_EQ(x.samples, y.samples);
        }
    }
}

uint32_t Word(const std::string& s, size_t off) {
    uint32_t v;
    std::memcpy(&v, s.data() + off, 4);
    return v;
}

void PutWord(std::string& s, size_t off, uint32_t v) { std::memcpy(&s[off], &v, 4); }

// The bytes SaveSignalFile would write, for sets the saver is happy to write but the loader refuses.
std::string FileOf(const SignalSet& s) {
    CByteSink sink;
    sink.PutU32(kSigMagic);
    sink.PutI32(3);
    sink.PutZeros(248);
    for (int c = 0; c < kComponents; ++c) s[c].Write(sink);
    return std::string(sink.Bytes().begin(), sink.Bytes().end());
}

// Offsets in a file of SampleSet(): header, then per array 8 bytes and spans of 72 + 8n.
constexpr size_t kArray0 = 256;
constexpr size_t kSpan0 = kArray0 + 8;
constexpr size_t kArraySize = 8 + 3 * 72 + 702 * 8;
}  // namespace

TEST(SignalFile, LayoutIsHeaderThenThreeArrays) {
    TempDir dir;
    SignalSet set = SampleSet();
    ASSERT_EQ(SaveSignalFile(dir.File("a.sig"), set), kFileOk);
    std::string f = TempDir::ReadAll(dir.File("a.sig"));
    ASSERT_EQ(f.size(), 256 + 3 * kArraySize);
    EXPECT_EQ(f.substr(0, 4), std::string("SIG\x1A", 4));
    EXPECT_EQ(Word(f, 4), 3u);
    EXPECT_EQ(f.substr(8, 248), std::string(248, '\0'));
    EXPECT_EQ(Word(f, kArray0), 702u);      // line length
    EXPECT_EQ(Word(f, kArray0 + 4), 3u);    // spans
    EXPECT_EQ(Word(f, kSpan0), 0u);         // kind
    EXPECT_EQ(Word(f, kSpan0 + 4), 5u);     // length
    double c2;
    std::memcpy(&c2, f.data() + kSpan0 + 16, 8);
    EXPECT_EQ(c2, 1.125);
    EXPECT_EQ(Word(f, kArray0 + 2 * kArraySize), 1u);  // Db keeps its line length of 1
}

TEST(SignalFile, RoundTripKeepsEveryField) {
    TempDir dir;
    SignalSet set = SampleSet();
    ASSERT_EQ(SaveSignalFile(dir.File("a.sig"), set), kFileOk);
    SignalSet back;
    ASSERT_EQ(LoadSignalFile(dir.File("a.sig"), back), kFileOk);
    ExpectEqualSets(set, back);
}

TEST(SignalFile, OpenAndCreateFailures) {
    TempDir dir;
    SignalSet set;
    EXPECT_EQ(LoadSignalFile(dir.File("missing.sig"), set), kFileCannotOpen);
    EXPECT_EQ(SaveSignalFile(dir.File("no/such/folder/a.sig"), set), kFileCannotCreate);
}

TEST(SignalFile, DamagedFilesAreRejectedAndTheSetKept) {
    TempDir dir;
    ASSERT_EQ(SaveSignalFile(dir.File("good.sig"), SampleSet()), kFileOk);
    const std::string good = TempDir::ReadAll(dir.File("good.sig"));
    const size_t span1 = kSpan0 + 72 + 5 * 8;
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"test table magic", [](std::string& f) { f.replace(0, 4, std::string("UIT\x1A", 4)); }},
        {"empty file", [](std::string& f) { f.clear(); }},
        {"header cut short", [](std::string& f) { f.resize(100); }},
        {"no arrays", [](std::string& f) { f.resize(256); }},
        {"ends inside a span's samples", [](std::string& f) { f.resize(f.size() - 3); }},
        {"ends inside the parameters", [=](std::string& f) { f.resize(span1 + 30); }},
        {"negative span count", [](std::string& f) { PutWord(f, kArray0 + 4, 0xFFFFFFFF); }},
        {"absurd span count", [](std::string& f) { PutWord(f, kArray0 + 4, 0x7FFFFFFF); }},
        {"no spans", [](std::string& f) { PutWord(f, kArray0 + 4, 0); }},
        {"span of no samples", [](std::string& f) { PutWord(f, kSpan0 + 4, 0); }},
        {"negative span length", [](std::string& f) { PutWord(f, kSpan0 + 4, 0x80000000); }},
        {"span longer than a line", [](std::string& f) { PutWord(f, kSpan0 + 4, 703); }},
        {"lengths that do not fill the line",
         [](std::string& f) {
             SignalSet s = SampleSet();
             for (int c = 0; c < kComponents; ++c) {
                 s[c].spans[2]->samples.pop_back();
                 s[c].spans[2]->length = 396;
             }
             f = FileOf(s);
         }},
        {"chroma boundaries differ from luma",
         [](std::string& f) {
             // Y spans 5/300/397 become 6/299/397: Dr and Db still say 5/300/397.
             SignalSet s = SampleSet();
             s[0].spans[0]->samples.push_back(0.0);
             s[0].spans[0]->length = 6;
             s[0].spans[1]->samples.pop_back();
             s[0].spans[1]->length = 299;
             f = FileOf(s);
         }},
    };
    for (const auto& c : cases) {
        std::string bad = good;
        c.damage(bad);
        TempDir::WriteAll(dir.File("bad.sig"), bad);
        SignalSet set;
        set[0].spans[0]->samples[7] = 99.0;
        EXPECT_EQ(LoadSignalFile(dir.File("bad.sig"), set), kFileCorrupt) << c.what;
        ASSERT_EQ(set[0].spans.size(), 1u) << c.what;
        EXPECT_EQ(set[0].spans[0]->length, 702) << c.what;
        EXPECT_EQ(set[0].spans[0]->samples[7], 99.0) << c.what;
    }
}

TEST(SignalFile, SecondHeaderWordAndTrailingBytesAreNotChecked) {
    TempDir dir;
    ASSERT_EQ(SaveSignalFile(dir.File("a.sig"), SampleSet()), kFileOk);
    std::string f = TempDir::ReadAll(dir.File("a.sig"));
    PutWord(f, 4, 7);
    f += "trailing";
    TempDir::WriteAll(dir.File("a.sig"), f);
    SignalSet set;
    EXPECT_EQ(LoadSignalFile(dir.File("a.sig"), set), kFileOk);
    ExpectEqualSets(set, SampleSet());
}
