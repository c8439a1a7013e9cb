// The compressed slot routes as plain timed runs (medians), each against its baseline in the
// same run, alternating so both see the same machine load:
//  1. The system codec slot of a 1920 x 1080 picture (conversion to planes, Tamo_Encode_HD,
//     zeroed tail and check value) against Tamo_Encode_HD of ready planes (goal 1.1).
//  2. The DNxHD route (temporary frame, ffmpeg, reading the frame back, clean-up) against the
//     same ffmpeg command run alone on a frame file already written (goal 1.05).
// Usage: compressed_bench [--runs N] [PICTURE.png]   (default /work/shared/bench/forest-1920x1080.png)
#include "codec/TamoLib.h"
#include "pictures/CompressedPicture.h"
#include "pictures/PictureConvert.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int RunAlone(const std::string& exe, const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        FILE* n = std::fopen("/dev/null", "w");
        dup2(fileno(n), 1);
        dup2(fileno(n), 2);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return st;
}
}  // namespace

int main(int argc, char** argv) {
    int runs = 15;
    std::string png = "/work/shared/bench/forest-1920x1080.png";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
        else png = argv[i];
    }
    CPicture pic;
    if (pic.Load(png, false, CPicture::kLoadResize, 1920, 1080) != 0) {
        std::fprintf(stderr, "cannot load %s\n", png.c_str());
        return 1;
    }
    std::vector<uint8_t> slot(kCodecFrameBytes), out(kCodecFrameBytes);
    std::string error;
    // Ready planes of the same picture, made once by the route's own conversion: the very
    // planes the route encodes (decoded planes would be smoother and encode faster).
    std::vector<uint8_t> y(1920 * 1088, 0), cb(960 * 544, 128), cr(960 * 544, 128);
    RowsToPlanes709(pic.Row(0), 1920, 1080, y.data(), cb.data(), cr.data());
    const bool encoded = Tamo_Encode_HD(kCodecBudgetUnits, y.data(), cb.data(), cr.data(), out.data()) > 0;
    SealCodecSlot(out.data());
    if (!CompressPicture(pic, CompressedCodec::System, DnxhdRange::Pc, slot.data(), slot.size(), error) || !encoded ||
        out != slot) {
        std::fprintf(stderr, "system codec route failed: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> route, planes;
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        CompressPicture(pic, CompressedCodec::System, DnxhdRange::Pc, slot.data(), slot.size(), error);
        auto t1 = Clock::now();
        Tamo_Encode_HD(kCodecBudgetUnits, y.data(), cb.data(), cr.data(), out.data());
        auto t2 = Clock::now();
        route.push_back(Ms(t0, t1));
        planes.push_back(Ms(t1, t2));
    }
    std::printf("system codec slot: %.2f ms, Tamo_Encode_HD of ready planes: %.2f ms, ratio %.3f (goal 1.1)\n",
                Median(route), Median(planes), Median(route) / Median(planes));

    const std::string ffmpeg = FfmpegPath();
    if (ffmpeg.empty()) {
        std::printf("DNxHD: no ffmpeg, not measured\n");
        return 0;
    }
    const std::string dir = std::filesystem::temp_directory_path() / ("compressed-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string raw = dir + "/frame.raw", dnx = dir + "/frame.dnxhd";
    std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(pic.Pixels()), 1920 * 1080 * 4);
    const std::vector<std::string> args{"-vcodec", "rawvideo", "-f", "rawvideo", "-pix_fmt", "rgb32", "-s", "1920x1080",
                                        "-i", raw, "-vf", "scale=1920:1080:out_range=tv", "-an", "-vcodec", "dnxhd",
                                        "-b:v", "120M", "-q:v", "1", "-y", "-vframes", "1", "-pix_fmt", "yuv422p", dnx};
    std::vector<uint8_t> dslot(kDnxhdFrameBytes);
    std::vector<double> droute, alone;
    const int druns = std::max(3, runs / 2);
    for (int i = 0; i < druns; ++i) {
        auto t0 = Clock::now();
        const bool ok = CompressPicture(pic, CompressedCodec::Dnxhd, DnxhdRange::Tv, dslot.data(), dslot.size(), error);
        auto t1 = Clock::now();
        RunAlone(ffmpeg, args);
        auto t2 = Clock::now();
        if (!ok) {
            std::fprintf(stderr, "DNxHD route failed: %s\n", error.c_str());
            return 1;
        }
        droute.push_back(Ms(t0, t1));
        alone.push_back(Ms(t1, t2));
    }
    std::filesystem::remove_all(dir);
    std::printf("DNxHD route: %.1f ms, the ffmpeg command alone: %.1f ms, ratio %.3f (goal 1.05)\n", Median(droute),
                Median(alone), Median(droute) / Median(alone));
    return 0;
}
