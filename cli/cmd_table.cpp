// varoctl table: test tables and signal files from the command line.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "Varoctl.h"
#include "app/Strings.h"
#include "pictures/CPicture.h"
#include "signals/ByteStream.h"
#include "signals/CUIT.h"

namespace {
constexpr int kExitDataErr = 65;  // a file that is not what it claims to be

int FileResultToExit(int r) {
    if (r == kFileCannotOpen) return kExitNoInput;
    if (r == kFileCannotCreate) return kExitCantCreate;
    return r == kFileOk ? 0 : kExitDataErr;
}

// The operator's message for a file result: 21201 to 21203 with the path.
void ReportFile(int r, const std::string& path) {
    std::fprintf(stderr, "varoctl: %s\n", FormatMessage(kStrFileError + r, {path}).c_str());
}

// The parameters the editor shows for each kind.
void PrintParams(const CDataSpan& s) {
    static const char* const names[kParamCount] = {"c1", "c2", "a", "t", "f", "w", "c3", "reserved"};
    static const std::vector<int> shown[kSpanKindCount] = {
        {}, {kC1}, {kC1, kC2}, {kC1, kA, kT, kF}, {kC1, kA, kT, kF, kW, kC3}, {kC1, kC2, kA, kT, kF}};
    if (s.kind == kSpanPoints) {
        if (s.samples.empty()) return;
        auto [lo, hi] = std::minmax_element(s.samples.begin(), s.samples.end());
        std::printf(" values %g..%g", *lo, *hi);
        return;
    }
    if (s.kind < 0 || s.kind >= kSpanKindCount) return;
    for (int p : shown[s.kind]) std::printf(" %s=%g", names[p], s.param[p]);
}

void PrintSignalSet(const SignalSet& set, const char* indent) {
    for (int c = 0; c < kComponents; ++c) {
        const CDataArray& a = set[c];
        std::printf("%s%s: line length %d, %zu span%s, %d samples\n", indent, ComponentInfo(c).name, a.lineLength,
                    a.spans.size(), a.spans.size() == 1 ? "" : "s", a.TotalLength());
        int start = 0;
        for (size_t i = 0; i < a.spans.size(); ++i) {
            const CDataSpan& s = *a.spans[i];
            std::printf("%s  span %zu: samples %d-%d (%d), kind %d \"%s\"", indent, i, start, start + s.length - 1,
                        s.length, s.kind, SpanKindName(s.kind));
            PrintParams(s);
            std::printf("\n");
            start += s.length;
        }
    }
}

uint32_t Magic(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    uint8_t b[4] = {0, 0, 0, 0};
    size_t n = std::fread(b, 1, 4, f);
    std::fclose(f);
    return n == 4 ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24 : 0;
}

int Show(const std::string& path) {
    const uint32_t magic = Magic(path);
    if (magic == kSigMagic) {
        SignalSet set;
        int r = LoadSignalFile(path, set);
        if (r != kFileOk) {
            ReportFile(r, path);
            return FileResultToExit(r);
        }
        std::printf("%s: signal file, %zu spans per component\n", path.c_str(), set[0].spans.size());
        PrintSignalSet(set, "");
        return 0;
    }
    CUIT table;
    int r = table.Load(path);
    if (r != kFileOk) {
        ReportFile(r, path);
        return FileResultToExit(r);
    }
    long masked = 0;
    for (int row = 0; row < kActiveLines; ++row)
        for (int k = 0; k < kSamplesPerLine; ++k) masked += table.MaskBit(row, k);
    std::printf("%s: test table, %zu window%s, line signal: %s, masked pixels: %ld of %d\n", path.c_str(),
                table.windows.size(), table.windows.size() == 1 ? "" : "s", table.IsSingleLine() ? "yes" : "no",
                masked, kActiveLines * kSamplesPerLine);
    for (size_t i = 0; i < table.windows.size(); ++i) {
        const RVUITWindow& w = table.windows[i];
        std::printf("window %zu: lines %d-%d (%d)\n", i, w.start, w.start + w.count - 1, w.count);
        PrintSignalSet(w.signals, "  ");
    }
    return 0;
}

int FromPicture(const std::string& image, const std::string& out) {
    CUIT table;
    table.Reset();
    int r = table.BuildFromPicture(image);
    if (r != CPicture::kLoadOk) {
        // 21301 and 21303: the image loader's own messages.
        std::string text = FormatMessage(kStrImageError + r, {image});
        std::fprintf(stderr, "varoctl: %s\n", text.c_str());
        return r == CPicture::kLoadCannotOpen ? kExitNoInput : kExitDataErr;
    }
    if (table.windows.empty())
        std::fprintf(stderr,
                     "varoctl: Warning: No transparent windows defined!\nYou can use this background picture as a "
                     "static image.\n");
    r = table.Save(out);
    if (r != kFileOk) {
        ReportFile(r, out);
        return FileResultToExit(r);
    }
    std::printf("%s: %zu window%s\n", out.c_str(), table.windows.size(), table.windows.size() == 1 ? "" : "s");
    for (const auto& w : table.windows)
        std::printf("  lines %d-%d (%d), %zu spans\n", w.start, w.start + w.count - 1, w.count, w.signals[0].spans.size());
    return 0;
}

int Frame(const std::string& path, const std::string& png) {
    CUIT table;
    int r = table.Load(path);
    if (r != kFileOk) {
        ReportFile(r, path);
        return FileResultToExit(r);
    }
    CPicture pic;
    if (!table.FrameToPicture(pic) || pic.SavePNG(png) != 0) {
        ReportFile(kFileCannotCreate, png);
        return kExitCantCreate;
    }
    return 0;
}

int RunTable(const VaroctlOptions&, const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "show") return Show(args[1]);
    if (args.size() == 3 && args[0] == "from-picture") return FromPicture(args[1], args[2]);
    if (args.size() == 3 && args[0] == "frame") return Frame(args[1], args[2]);
    std::fprintf(stderr,
                 "usage: varoctl table show FILE\n"
                 "       varoctl table from-picture IMAGE OUT.uit\n"
                 "       varoctl table frame FILE.uit OUT.png\n");
    return kExitUsage;
}

VaroctlRegistrar reg{{"table",
                      "table show FILE.sig|FILE.uit | table from-picture IMAGE OUT.uit | table frame FILE.uit OUT.png",
                      &RunTable}};
}  // namespace
