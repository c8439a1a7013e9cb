// The codec against libjpeg-turbo on the same 4:2:0 planes, JPEG at the quality whose size is
// closest to the codec's stream; and file encoding of a 10 s 1080p clip with one and two workers.
// Run: build/bench/codec_bench (pictures from ../shared/bench).
#include "codec/FerloFileEncoder.h"
#include "codec/TamoEncoder.h"
#include "codec/TamoLib.h"
#include "codec/TamoTables.h"
#include "codec/CodecTestPictures.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace codectest;

namespace {

struct Subject {
    Planes planes;
    int units = 0;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> jpeg;
    int quality = 0;
};

Subject* Load(int type) {
    static std::map<int, std::unique_ptr<Subject>> cache;
    auto& s = cache[type];
    if (s) return s.get();
    s = std::make_unique<Subject>();
    bool ok = false;
    s->planes = BenchPicture("forest-1920x1080.png", type, ok);
    if (!ok) {
        std::fprintf(stderr, "cannot read forest-1920x1080.png\n");
        std::exit(1);
    }
    s->units = type == tamo::kTypeHD ? 1171 : 4 * 1171;
    s->stream.resize(size_t(s->units) * 512);
    auto& p = s->planes;
    int size = type == tamo::kTypeHD ? Tamo_Encode_HD(s->units, p.y.data(), p.cb.data(), p.cr.data(), s->stream.data())
                                     : Tamo_Encode_4K(s->units, p.y.data(), p.cb.data(), p.cr.data(), s->stream.data());
    s->stream.resize(size_t(size));

    // The JPEG quality whose size is nearest to the stream's.
    tjhandle tj = tjInitCompress();
    const unsigned char* planes[3] = {p.y.data(), p.cb.data(), p.cr.data()};
    long best = -1;
    for (int q = 50; q <= 100; ++q) {
        unsigned char* buf = nullptr;
        unsigned long len = 0;
        tjCompressFromYUVPlanes(tj, planes, p.width, nullptr, p.height, TJSAMP_420, &buf, &len, q, 0);
        long diff = std::labs(long(len) - size);
        if (best < 0 || diff < best) {
            best = diff;
            s->quality = q;
            s->jpeg.assign(buf, buf + len);
        }
        tjFree(buf);
    }
    tjDestroy(tj);
    std::fprintf(stderr, "type %d: stream %d bytes at %d units; JPEG quality %d gives %zu bytes\n", type, size, s->units,
                 s->quality, s->jpeg.size());
    return s.get();
}

void TamoEncode(benchmark::State& state, int type) {
    Subject* s = Load(type);
    auto& p = s->planes;
    std::vector<uint8_t> out(size_t(s->units) * 512);
    for (auto _ : state) {
        int n = type == tamo::kTypeHD ? Tamo_Encode_HD(s->units, p.y.data(), p.cb.data(), p.cr.data(), out.data())
                                      : Tamo_Encode_4K(s->units, p.y.data(), p.cb.data(), p.cr.data(), out.data());
        benchmark::DoNotOptimize(n);
    }
    state.counters["bytes"] = double(s->stream.size());
}

// The encoder on the calling thread alone: the work itself, against the single-threaded JPEG.
void TamoEncodeOneThread(benchmark::State& state, int type) {
    Subject* s = Load(type);
    auto& p = s->planes;
    std::vector<uint8_t> out(size_t(s->units) * 512);
    for (auto _ : state) {
        TamoEncoder enc(s->units, type, 0);
        benchmark::DoNotOptimize(enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data()));
    }
}

void JpegEncode(benchmark::State& state, int type) {
    Subject* s = Load(type);
    auto& p = s->planes;
    tjhandle tj = tjInitCompress();
    const unsigned char* planes[3] = {p.y.data(), p.cb.data(), p.cr.data()};
    unsigned long len = 0;
    for (auto _ : state) {
        unsigned char* buf = nullptr;
        tjCompressFromYUVPlanes(tj, planes, p.width, nullptr, p.height, TJSAMP_420, &buf, &len, s->quality, 0);
        tjFree(buf);
    }
    tjDestroy(tj);
    state.counters["bytes"] = double(len);
    state.counters["quality"] = s->quality;
}

void TamoDecode(benchmark::State& state, int type) {
    Subject* s = Load(type);
    Planes d(type);
    for (auto _ : state) {
        int rc = Tamo_Decode(s->stream.data(), int(s->stream.size()), d.y.data(), d.cb.data(), d.cr.data());
        benchmark::DoNotOptimize(rc);
    }
    state.counters["PSNR_Y"] = Psnr(s->planes.y, d.y, d.width, d.height);
}

void JpegDecode(benchmark::State& state, int type) {
    Subject* s = Load(type);
    Planes d(type);
    tjhandle tj = tjInitDecompress();
    unsigned char* planes[3] = {d.y.data(), d.cb.data(), d.cr.data()};
    for (auto _ : state) {
        int rc = tjDecompressToYUVPlanes(tj, s->jpeg.data(), s->jpeg.size(), planes, d.width, nullptr, d.height, 0);
        benchmark::DoNotOptimize(rc);
    }
    tjDestroy(tj);
    state.counters["PSNR_Y"] = Psnr(s->planes.y, d.y, d.width, d.height);
}

// A 10 s 1080p clip: the plain test pattern, or the pattern with grain everywhere, which makes
// the encoder rather than ffmpeg the larger part of the work.
std::string Clip(bool grain) {
    static std::string paths[2];
    std::string& path = paths[grain];
    if (!path.empty()) return path;
    std::string dir = (std::filesystem::temp_directory_path() / "tamo-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) std::exit(1);
    path = dir + "/clip-1080p.mkv";
    std::string cmd = "ffmpeg -v quiet -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10" +
                      std::string(grain ? " -vf noise=alls=24:allf=t" : "") + " -c:v mpeg4 -q:v 3 '" + path + "'";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the clip with ffmpeg\n");
        std::exit(1);
    }
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit([] {
            std::error_code ec;
            for (auto& p : paths)
                if (!p.empty()) std::filesystem::remove_all(std::filesystem::path(p).parent_path(), ec);
        });
    }
    return path;
}

void FileEncode(benchmark::State& state) {
    const int workers = int(state.range(0));
    std::string clip = Clip(state.range(1) != 0);
    int frames = 0;
    for (auto _ : state) {
        FerloFileEncoder fe(clip, tamo::kTypeHD, 1171, true, workers);
        frames = 0;
        while (fe.NextFrame()) ++frames;
    }
    state.counters["frames"] = frames;
    state.counters["fps"] = benchmark::Counter(double(frames) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// ffmpeg alone with the file encoder's command line, its output thrown away: the ceiling of
// file encoding on this machine.
void FfmpegOnly(benchmark::State& state) {
    std::string clip = Clip(state.range(0) != 0);
    for (auto _ : state) {
        std::string cmd = "ffmpeg -v quiet -i '" + clip +
                          "' -vf fps=25,scale=1920:1080:out_range=tv,yadif=1 -an -pix_fmt yuv420p -r 25 -f rawvideo -y /dev/null";
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    }
    // ffmpeg makes 252 frames of the 10 s clip (its deinterlacer adds two), as FileEncode counts.
    state.counters["fps"] = benchmark::Counter(252.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The workers without ffmpeg: 50 frames of the forest picture shared out to `workers` threads,
// each with its own single-threaded encoder, as the file encoder's workers are.
void WorkerFrames(benchmark::State& state) {
    const int workers = int(state.range(0));
    Subject* s = Load(tamo::kTypeHD);
    auto& p = s->planes;
    const int frames = 50;
    for (auto _ : state) {
        std::atomic<int> next{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < workers; ++w)
            threads.emplace_back([&] {
                TamoEncoder enc(s->units, tamo::kTypeHD, 25);
                std::vector<uint8_t> out(size_t(s->units) * 512);
                for (int f = next++; f < frames; f = next++) benchmark::DoNotOptimize(enc.Encode(uint32_t(f), p.y.data(), p.cb.data(), p.cr.data(), out.data()));
            });
        for (auto& t : threads) t.join();
    }
    state.counters["fps"] = benchmark::Counter(double(frames) * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(TamoEncode, HD, tamo::kTypeHD)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(TamoEncodeOneThread, HD, tamo::kTypeHD)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(JpegEncode, HD, tamo::kTypeHD)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(TamoDecode, HD, tamo::kTypeHD)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(JpegDecode, HD, tamo::kTypeHD)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(TamoEncode, 4K, tamo::kType4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(TamoEncodeOneThread, 4K, tamo::kType4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(JpegEncode, 4K, tamo::kType4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(TamoDecode, 4K, tamo::kType4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(JpegDecode, 4K, tamo::kType4K)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(FileEncode)->ArgNames({"workers", "grain"})->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

BENCHMARK(FfmpegOnly)->ArgName("grain")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WorkerFrames)->ArgName("workers")->Arg(1)->Arg(2)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

BENCHMARK_MAIN();
