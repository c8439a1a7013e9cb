// The pictures page's costs, as plain timed runs (medians of several):
//  1. `varoctl pictures write` of a 1920 x 1080 format-3 slot (8294400 bytes) over TCP loopback
//     against `varoctl write` of the same raw bytes to the same address, alternating in one run:
//     the ratio shows what loading, converting and the model add to the transfer (goal 1.15).
//  2. One preview refresh of a 1920 x 1080 working picture (the preview drawn over the
//     checkerboard and made a QImage), against copying that picture once (goal 10 ms).
// Usage: pictures_page_bench [--runs N] [PICTURE.png]   (default /work/shared/bench/forest-1920x1080.png)
#include "app/IpAddress.h"
#include "common/TempDir.h"
#include "devicedata/COperations.h"
#include "elementpages/FakeDevice.h"
#include "eth/NetSim.h"
#include "model/CPnPPics.h"
#include "pictures/LoadingOptions.h"
#include "pictures/PicturesPage.h"
#include "pictures/ui/CPicCtrl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
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

const char* const kModel = R"(<?xml version="1.0"?>
<device><pnp>
  <pictures name="Full frame" width="1920" height="1080" newformat="3" hdtv="1">
    <item name="Frame" address="0x400000"/>
  </pictures>
</pnp></device>
)";
}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    std::string picture = "/work/shared/bench/forest-1920x1080.png";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else picture = argv[i];
    }
    const char* env = std::getenv("VARO_BIN_DIR");
    const std::string bin = env ? env : VARO_BIN_DIR_DEFAULT;
    setenv("VARO_BIN_DIR", bin.c_str(), 1);

    // A program folder of its own: varoctl finds the benchmark's model by the signature.
    TempDir dir;
    std::filesystem::create_directories(dir.File("ModelsPnP"));
    const std::string modelFile = dir.File("ModelsPnP/PIC-BENCH.xml");
    TempDir::WriteAll(modelFile, kModel);
    std::filesystem::copy_file(bin + "/varoctl", dir.File("varoctl"));
    std::filesystem::permissions(dir.File("varoctl"), std::filesystem::perms::owner_all);

    // The raw bytes the baseline writes: what the page makes of the picture.
    FakeDeviceContext<FakeEngine, FakeUi> rig(kModel, 16);
    auto& el = *static_cast<CPnPPics*>(rig.model.elements.at(0).get());
    CPicturesPage page(el, rig.ctx);
    if (!page.Load(picture, {})) {
        std::fprintf(stderr, "cannot load %s\n", picture.c_str());
        return 66;
    }
    const std::string raw = dir.File("frame.raw");
    TempDir::WriteAll(raw, std::string(el.deviceBuffer.begin(), el.deviceBuffer.end()));

    const uint32_t ip = IpFromOctets(127, 62 + unsigned(getpid()) % 150, 0, 9);
    NetSim sim({"--tcp", IpToString(ip), "--model", modelFile}, dir.File("dev.img"));
    if (!sim.Ready()) return 1;
    const std::string link = "tcp:" + IpToString(ip);
    const std::string exe = dir.File("varoctl");
    std::vector<double> plain, pictures;
    for (int r = 0; r < runs + 1; ++r) {
        auto t0 = Clock::now();
        if (Run({exe, "--link", link, "write", "0x400000", raw}) != 0) return 2;
        auto t1 = Clock::now();
        if (Run({exe, "--link", link, "pictures", "write", "Full frame", "Frame", picture}) != 0) return 3;
        auto t2 = Clock::now();
        if (r == 0) continue;  // warm-up
        plain.push_back(Ms(t0, t1));
        pictures.push_back(Ms(t1, t2));
    }
    const double mp = Median(plain), mq = Median(pictures);
    std::printf("slot write, 1920 x 1080 format 3 (%zu bytes) over TCP loopback, median of %d:\n", el.deviceBuffer.size(), runs);
    std::printf("  varoctl write (baseline)   %8.1f ms\n", mp);
    std::printf("  varoctl pictures write     %8.1f ms   ratio %.3f (goal <= 1.15)\n", mq, mq / mp);

    // Preview refresh against one copy of the picture.
    std::vector<double> copy, refresh;
    CPicture out;
    for (int r = 0; r < 5 * runs; ++r) {
        auto t0 = Clock::now();
        CPicture c(el.picture);
        auto t1 = Clock::now();
        page.RenderPreview(out, kPreviewCheckered);
        const QImage img = PictureToImage(out);
        auto t2 = Clock::now();
        if (c.Width() != img.width() * 8) return 4;  // keeps both from being optimised away
        copy.push_back(Ms(t0, t1));
        refresh.push_back(Ms(t1, t2));
    }
    const double mc = Median(copy), mr = Median(refresh);
    std::printf("preview refresh of a 1920 x 1080 picture (preview %d x %d), median of %d:\n", out.Width(), out.Height(),
                5 * runs);
    std::printf("  copy of the picture (baseline) %6.2f ms\n", mc);
    std::printf("  refresh                        %6.2f ms   ratio %.2f (goal <= 10 ms)\n", mr, mr / mc);
    return 0;
}
