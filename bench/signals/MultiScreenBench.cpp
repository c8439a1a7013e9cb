// The multiscreen layout's costs, as plain timed runs (medians):
//  1. The sample two-display 1920 x 1080 layout (HD-OVL): building the document, each display's
//     background rendered and converted, the cover rendered and converted, the settings block
//     encoded (goal <= 30 ms each).
//  2. `varoctl multiscreen write` over TCP loopback against `varoctl write` of the same bytes,
//     alternating in one run (goal <= 1.1), two baselines: one write of all the bytes end to
//     end, and one write per part at the part's own address (what the sequence sends).
// Usage: multiscreen_bench [--runs N]
#include "app/IpAddress.h"
#include "common/TempDir.h"
#include "eth/NetSim.h"
#include "model/CPnPModel.h"
#include "signals/MultiScreenDoc.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
int Run(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    const char* env = std::getenv("VARO_BIN_DIR");
    const std::string bin = env ? env : VARO_BIN_DIR_DEFAULT;
    setenv("VARO_BIN_DIR", bin.c_str(), 1);
    const std::string modelFile = bin + "/ModelsPnP/HD-OVL.xml";

    CPnPModel model;
    model.SetProgramFolder(bin + "/");
    if (model.Load(modelFile) != kPnPLoaded) return 66;
    auto* ms = static_cast<CPnPMultiScreen*>(model.FindFirst(kPnPMultiScreen));
    if (!ms || !ms->error.empty()) return 66;

    std::vector<double> build, bg[2], cover, settings;
    std::vector<uint8_t> all;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> partFiles;
    for (int r = 0; r < runs + 1; ++r) {
        CMultiScreen doc;
        auto t0 = Clock::now();
        MultiScreenBuild(doc, *ms, false);
        auto t1 = Clock::now();
        std::vector<uint8_t> parts[4];
        double tb[2] = {};
        for (int d = 0; d < 2; ++d) {
            const auto a = Clock::now();
            CPicture half;
            std::string err;
            if (!MultiScreenBackgroundBytes(doc, *ms, d, half, parts[d], err)) return 3;
            tb[d] = Ms(a, Clock::now());
        }
        auto t2 = Clock::now();
        CPicture pic;
        std::string err;
        MultiScreenCoverPicture(doc, *ms, pic);
        if (!MultiScreenCoverBytes(pic, *ms, parts[2], err)) return 4;
        auto t3 = Clock::now();
        parts[3] = MultiScreenEncodeSettings(doc, *ms);
        auto t4 = Clock::now();
        if (r == 0) {
            for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
            static const char* const names[4] = {"bg1.bin", "bg2.bin", "cover.bin", "settings.bin"};
            for (int i = 0; i < 4; ++i) partFiles.push_back({names[i], parts[i]});
            continue;  // warm-up: file caches, fonts
        }
        build.push_back(Ms(t0, t1));
        bg[0].push_back(tb[0]);
        bg[1].push_back(tb[1]);
        cover.push_back(Ms(t2, t3));
        settings.push_back(Ms(t3, t4));
    }
    std::printf("sample layout HD-OVL, two displays 1920 x 1080, median of %d (goal <= 30 ms each):\n", runs);
    std::printf("  build the document          %7.2f ms\n", Median(build));
    std::printf("  background 1 (1036800 B)    %7.2f ms\n", Median(bg[0]));
    std::printf("  background 2 (1036800 B)    %7.2f ms\n", Median(bg[1]));
    std::printf("  cover (%zu B)          %7.2f ms\n", size_t(ms->CoverSize()), Median(cover));
    std::printf("  settings block (%d B)      %7.3f ms\n", ms->size, Median(settings));

    // The write sequence against one plain write of the same number of bytes.
    TempDir dir;
    const std::string raw = dir.File("all.bin");
    TempDir::WriteAll(raw, std::string(all.begin(), all.end()));
    const uint32_t ip = IpFromOctets(127, 63 + unsigned(getpid()) % 150, 0, 11);
    NetSim sim({"--tcp", IpToString(ip), "--model", modelFile}, dir.File("dev.img"));
    if (!sim.Ready()) return 1;
    const std::string link = "tcp:" + IpToString(ip), exe = bin + "/varoctl";
    const char* const addresses[4] = {"0x10100000", "0x10200000", "0x10400000", "0x10000000"};
    for (auto& [name, bytes] : partFiles) TempDir::WriteAll(dir.File(name), std::string(bytes.begin(), bytes.end()));
    std::vector<double> plain, perPart, sequence;
    for (int r = 0; r < runs + 1; ++r) {
        const auto t0 = Clock::now();
        if (Run({exe, "--link", link, "write", "0x10100000", raw}) != 0) return 5;
        const auto t1 = Clock::now();
        for (size_t i = 0; i < partFiles.size(); ++i)
            if (Run({exe, "--link", link, "write", addresses[i], dir.File(partFiles[i].first)}) != 0) return 7;
        const auto t2 = Clock::now();
        if (Run({exe, "--link", link, "multiscreen", "write"}) != 0) return 6;
        const auto t3 = Clock::now();
        if (r == 0) continue;
        plain.push_back(Ms(t0, t1));
        perPart.push_back(Ms(t1, t2));
        sequence.push_back(Ms(t2, t3));
    }
    const double mp = Median(plain), mpp = Median(perPart), mq = Median(sequence);
    std::printf("write over TCP loopback, %zu bytes, median of %d:\n", all.size(), runs);
    std::printf("  varoctl write, all bytes at once (baseline)  %8.1f ms\n", mp);
    std::printf("  varoctl write, once per part (baseline)      %8.1f ms\n", mpp);
    std::printf("  varoctl multiscreen write                    %8.1f ms   ratio %.3f / %.3f (goal <= 1.1)\n", mq,
                mq / mp, mq / mpp);
    return 0;
}
