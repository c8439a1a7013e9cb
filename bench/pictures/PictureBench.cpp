// Device picture conversions of a 1920 x 2160 picture (two stacked 1080-line frames) against
// libswscale doing the nearest job (BGRA <-> packed 4:2:2 UYVY) at the same size, same run.
// Prints each conversion's time as a ratio of its baseline at the end.
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pictures/CPicture.h"
#include "pictures/PictureConvert.h"

namespace {
constexpr int kW = 1920, kH = 2160;

const CPicture& Source() {
    static CPicture pic = [] {
        const char* src = std::getenv("VARO_SOURCE_DIR");
        std::string dir = src ? src : VARO_SOURCE_DIR_DEFAULT;
        CPicture frame;
        std::string path = dir + "/../shared/bench/forest-1920x1080.png";
        if (frame.Load(path, true, 0, 0, 0) != 0 || frame.Width() != kW) {
            std::fprintf(stderr, "cannot load %s\n", path.c_str());
            std::exit(1);
        }
        CPicture p(kW, kH);
        p.CopyRect(frame, 0, 0, 0, 0, kW, 1080);
        p.CopyRect(frame, 0, 1080, 0, 0, kW, 1080);
        // Some transparency so the opacity paths do real work.
        p.Fill(0x80000000u, 1, 100, 1200, 600, 400);
        return p;
    }();
    return pic;
}

void PictureToDeviceBench(benchmark::State& st) {
    int format = int(st.range(0)), sat = int(st.range(1));
    const CPicture& pic = Source();
    std::vector<uint8_t> buf(DeviceBufferSize(format, kW, kH));
    for (auto _ : st) {
        PictureToDevice(pic, true, format, sat, buf.data(), buf.size(), 0);
        benchmark::DoNotOptimize(buf.data());
    }
}

void DeviceToPictureBench(benchmark::State& st) {
    int format = int(st.range(0));
    std::vector<uint8_t> buf(DeviceBufferSize(format, kW, kH));
    PictureToDevice(Source(), true, format, 100, buf.data(), buf.size(), 0);
    CPicture out(kW, kH);
    for (auto _ : st) {
        DeviceToPicture(out, 0, buf.data(), buf.size(), true, format);
        benchmark::DoNotOptimize(out.Pixels());
    }
}

void SwsBench(benchmark::State& st, AVPixelFormat from, AVPixelFormat to) {
    SwsContext* ctx = sws_getContext(kW, kH, from, kW, kH, to, SWS_POINT, nullptr, nullptr, nullptr);
    if (!ctx) {
        st.SkipWithError("sws_getContext failed");
        return;
    }
    std::vector<uint8_t> bgra(size_t(kW) * kH * 4), uyvy(size_t(kW) * kH * 2);
    std::memcpy(bgra.data(), Source().Pixels(), bgra.size());  // 0xTTRRGGBB is B, G, R, T in memory
    if (from == AV_PIX_FMT_UYVY422) {
        const uint8_t* s[1] = {bgra.data()};
        int ss[1] = {kW * 4};
        uint8_t* d[1] = {uyvy.data()};
        int ds[1] = {kW * 2};
        SwsContext* fwd = sws_getContext(kW, kH, AV_PIX_FMT_BGRA, kW, kH, AV_PIX_FMT_UYVY422, SWS_POINT, nullptr,
                                         nullptr, nullptr);
        sws_scale(fwd, s, ss, 0, kH, d, ds);
        sws_freeContext(fwd);
    }
    const uint8_t* src[1] = {from == AV_PIX_FMT_BGRA ? bgra.data() : uyvy.data()};
    int srcStride[1] = {from == AV_PIX_FMT_BGRA ? kW * 4 : kW * 2};
    uint8_t* dst[1] = {to == AV_PIX_FMT_BGRA ? bgra.data() : uyvy.data()};
    int dstStride[1] = {to == AV_PIX_FMT_BGRA ? kW * 4 : kW * 2};
    for (auto _ : st) {
        sws_scale(ctx, src, srcStride, 0, kH, dst, dstStride);
        benchmark::DoNotOptimize(dst[0]);
    }
    sws_freeContext(ctx);
}

// Collects the mean real time per benchmark name for the ratio summary.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "mean")
                times[r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args)] =
                    r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};
}  // namespace

BENCHMARK(PictureToDeviceBench)->Args({2, 100})->Args({3, 100})->Args({2, 60})->Args({0, 100})->Args({4, 100})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DeviceToPictureBench)->Arg(2)->Arg(3)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(SwsBench, bgra_to_uyvy, AV_PIX_FMT_BGRA, AV_PIX_FMT_UYVY422)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(SwsBench, uyvy_to_bgra, AV_PIX_FMT_UYVY422, AV_PIX_FMT_BGRA)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto t = [&](const std::string& n) {
        auto it = rep.times.find(n);
        return it == rep.times.end() ? 0.0 : it->second;
    };
    double toBase = t("SwsBench/bgra_to_uyvy"), fromBase = t("SwsBench/uyvy_to_bgra");
    std::printf("\nRatios against libswscale at %d x %d (goal <= 1.00):\n", kW, kH);
    for (const char* n : {"PictureToDeviceBench/2/100", "PictureToDeviceBench/3/100", "PictureToDeviceBench/2/60",
                          "PictureToDeviceBench/0/100", "PictureToDeviceBench/4/100"})
        if (t(n) > 0 && toBase > 0) std::printf("  %-28s %.2fx BGRA->UYVY\n", n, t(n) / toBase);
    for (const char* n : {"DeviceToPictureBench/2", "DeviceToPictureBench/3", "DeviceToPictureBench/0",
                          "DeviceToPictureBench/4"})
        if (t(n) > 0 && fromBase > 0) std::printf("  %-28s %.2fx UYVY->BGRA\n", n, t(n) / fromBase);
    benchmark::Shutdown();
    return 0;
}
