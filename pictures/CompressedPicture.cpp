#include "pictures/CompressedPicture.h"

#include "app/ProgramFolder.h"
#include "codec/TamoLib.h"
#include "pictures/PictureConvert.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __x86_64__
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

extern char** environ;

namespace {
constexpr int kW = kCompressedFrameWidth, kH = kCompressedFrameHeight;
constexpr int kCodedH = 1088;
constexpr size_t kFramePixels = size_t(kW) * kH;

thread_local const CompressStop* t_stop = nullptr;

bool Stopped(const CompressStop& stop) {
    if (stop) return stop();
    return t_stop && *t_stop && (*t_stop)();
}

// Slicing by eight: table k is the CRC of a byte followed by k zero bytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
CrcTables MakeCrcTables() {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
        for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    return t;
}
const CrcTables& Tables() {
    static const CrcTables t = MakeCrcTables();
    return t;
}

// a x b modulo the CRC polynomial, with bit 31 the highest power.
uint32_t MulMod(uint32_t a, uint32_t b) {
    uint32_t r = 0;
    for (int i = 31; i >= 0; --i) {
        r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        if ((b >> i) & 1) r ^= a;
    }
    return r;
}

// The CRC register after `bytes` more zero bytes: crc x x^(8 bytes); gives the folding constants.
uint32_t ShiftZeros(uint32_t crc, size_t bytes) {
    uint32_t power = 1, base = 0x100;  // x^0, x^8
    for (; bytes; bytes >>= 1, base = MulMod(base, base))
        if (bytes & 1) power = MulMod(power, base);
    return MulMod(crc, power);
}

uint32_t LoadBE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

uint32_t CrcTable(const uint8_t* data, size_t size, uint32_t crc) {
    const CrcTables& t = Tables();
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t a = crc ^ LoadBE32(data), b = LoadBE32(data + 4);
        crc = t[7][a >> 24] ^ t[6][(a >> 16) & 0xFF] ^ t[5][(a >> 8) & 0xFF] ^ t[4][a & 0xFF] ^ t[3][b >> 24] ^
              t[2][(b >> 16) & 0xFF] ^ t[1][(b >> 8) & 0xFF] ^ t[0][b & 0xFF];
    }
    for (; size; --size) crc = (crc << 8) ^ t[0][((crc >> 24) ^ *data++) & 0xFF];
    return crc;
}

#ifdef __x86_64__
// Carry-less folding: 16-byte blocks read most significant byte first are polynomials, a block
// k bits ahead is moved onto the next by multiplying its halves by x^(k+64) and x^k mod P. What
// is left folds to 16 bytes whose table CRC from zero is the same, since only the residue counts.
struct FoldConsts {
    __m128i by4, by1;
};
const FoldConsts& Folds() {
    static const FoldConsts f = [] {
        auto k = [](size_t bits) { return static_cast<long long>(ShiftZeros(1, bits / 8)); };
        return FoldConsts{_mm_set_epi64x(k(512 + 64), k(512)), _mm_set_epi64x(k(128 + 64), k(128))};
    }();
    return f;
}

__attribute__((target("pclmul,ssse3"))) inline __m128i Fold(__m128i a, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), _mm_clmulepi64_si128(a, k, 0x00)), next);
}

__attribute__((target("pclmul,ssse3"))) uint32_t CrcFold(const uint8_t* data, size_t size, uint32_t crc) {
    const FoldConsts& k = Folds();
    const __m128i swap = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
#define load(p) _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap)
    // The start value goes into the message's first 32 bits.
    __m128i x0 = _mm_xor_si128(load(data), _mm_set_epi32(int(crc), 0, 0, 0));
    __m128i x1 = load(data + 16), x2 = load(data + 32), x3 = load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; size -= 64, data += 64) {
        x0 = Fold(x0, k.by4, load(data));
        x1 = Fold(x1, k.by4, load(data + 16));
        x2 = Fold(x2, k.by4, load(data + 32));
        x3 = Fold(x3, k.by4, load(data + 48));
    }
    __m128i x = Fold(Fold(Fold(x0, k.by1, x1), k.by1, x2), k.by1, x3);
    for (; size >= 16; size -= 16, data += 16) x = Fold(x, k.by1, load(data));
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(x, swap));
#undef load
    return CrcTable(data, size, CrcTable(rest, 16, 0));
}
#endif

// Helper threads kept for the next frame: starting threads costs about as much as a slice of
// the work. One job at a time; a caller that finds them busy does the whole job itself.
class CWorkers {
public:
    int Count() const { return m_count; }
    // job(0 ... n-1): job(0) on the caller, the others on helpers; returns when all are done.
    void Run(int n, const std::function<void(int)>& job) {
        std::unique_lock<std::mutex> busy(m_busy, std::try_to_lock);
        n = std::min(n, m_count);
        if (n <= 1 || !busy.owns_lock()) {
            for (int i = 0; i < n || i == 0; ++i) job(i);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (int(m_threads.size()) < m_count - 1) {
                const int index = int(m_threads.size()) + 1;
                m_threads.emplace_back([this, index] { Loop(index); });
            }
            m_job = &job;
            m_used = n;
            m_pending = n - 1;
            ++m_generation;
        }
        m_wake.notify_all();
        job(0);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [&] { return m_pending == 0; });
        m_job = nullptr;
    }
    ~CWorkers() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads) t.join();
    }

private:
    void Loop(int index) {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_quit || m_generation != seen; });
            if (m_quit) return;
            seen = m_generation;
            if (index >= m_used) continue;
            const std::function<void(int)>* job = m_job;
            lock.unlock();
            (*job)(index);
            lock.lock();
            if (--m_pending == 0) m_done.notify_one();
        }
    }

    const int m_count = std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
    std::mutex m_busy, m_mutex;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_threads;
    const std::function<void(int)>* m_job = nullptr;
    int m_used = 0, m_pending = 0;
    uint64_t m_generation = 0;
    bool m_quit = false;
};
CWorkers& Workers() {
    static CWorkers w;
    return w;
}

// Slice i of n of the frame's rows, whole row pairs each (a pair shares its chroma row).
int SliceRow(int i, int n) { return (kH / 2) * i / n * 2; }

void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// A private folder for one ffmpeg run, removed with its files whatever happens.
class CTempFolder {
public:
    CTempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tmpXXXXXX";
        if (mkdtemp(tmpl.data())) m_path = tmpl;
    }
    ~CTempFolder() {
        for (const auto& f : m_files) unlink(f.c_str());
        if (!m_path.empty()) rmdir(m_path.c_str());
    }
    bool Ok() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    std::string File(const char* name) {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

bool WriteAll(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Exactly size bytes from the start of the file.
bool ReadExactly(const std::string& path, void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const bool ok = std::fread(data, 1, size, f) == size;
    std::fclose(f);
    return ok;
}

// Runs ffmpeg with the arguments, its standard streams on /dev/null, until it ends; its exit
// code does not matter (what it wrote is checked). False when it could not start or was stopped.
bool RunFfmpeg(const std::vector<std::string>& args, const CompressStop& stop, std::string& error) {
    const std::string exe = FfmpegPath();
    if (exe.empty()) {
        error = "ffmpeg was found neither in the program folder nor on PATH";
        return false;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        error = "ffmpeg could not be started: " + std::string(std::strerror(rc));
        return false;
    }
    // The process descriptor wakes the wait the moment ffmpeg ends; the 50 ms steps are only
    // for Stop. Without it (older kernels) the wait polls.
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    bool stopped = false;
    for (;;) {
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) break;
        } else {
            int st = 0;
            for (int i = 0; i < 25; ++i) {
                if (waitpid(pid, &st, WNOHANG) == pid) {
                    pid = -1;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (pid < 0) break;
        }
        if (!stopped && Stopped(stop)) {
            stopped = true;
            kill(pid, SIGKILL);
        }
    }
    if (pidfd >= 0) close(pidfd);
    if (pid > 0) {
        int st = 0;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
    }
    if (stopped) error = "stopped";
    return !stopped;
}

struct Planes {
    std::vector<uint8_t> y = std::vector<uint8_t>(size_t(kW) * kCodedH);
    std::vector<uint8_t> cb = std::vector<uint8_t>(size_t(kW / 2) * (kCodedH / 2));
    std::vector<uint8_t> cr = std::vector<uint8_t>(size_t(kW / 2) * (kCodedH / 2));
};
Planes& ThreadPlanes() {
    thread_local Planes p;
    return p;
}

// BT.709 straight from the frame's rows into the planes, in slices on the workers, which also
// zero their share of the slot.
void ToPlanes(const CPicture& pic, int frame, Planes& pl, uint8_t* slot) {
    const int n = Workers().Count();
    Workers().Run(n, [&](int i) {
        const int from = SliceRow(i, n), to = SliceRow(i + 1, n);
        RowsToPlanes709(pic.Row(frame * kH + from), kW, to - from, pl.y.data() + size_t(from) * kW,
                        pl.cb.data() + size_t(from / 2) * (kW / 2), pl.cr.data() + size_t(from / 2) * (kW / 2));
        const size_t z0 = kCodecFrameBytes * size_t(i) / size_t(n), z1 = kCodecFrameBytes * size_t(i + 1) / size_t(n);
        std::memset(slot + z0, 0, z1 - z0);
    });
    // The coded lines below the picture carry nothing.
    std::memset(pl.y.data() + kFramePixels, 0, size_t(kCodedH - kH) * kW);
    std::memset(pl.cb.data() + kFramePixels / 4, 128, size_t(kCodedH - kH) / 2 * (kW / 2));
    std::memset(pl.cr.data() + kFramePixels / 4, 128, size_t(kCodedH - kH) / 2 * (kW / 2));
}

void FromPlanes(const Planes& pl, CPicture& pic, int frame) {
    const int n = Workers().Count();
    Workers().Run(n, [&](int i) {
        const int from = SliceRow(i, n), to = SliceRow(i + 1, n);
        PlanesToRows709(pl.y.data() + size_t(from) * kW, pl.cb.data() + size_t(from / 2) * (kW / 2),
                        pl.cr.data() + size_t(from / 2) * (kW / 2), kW, to - from, pic.Row(frame * kH + from));
    });
}

bool SystemCompress(const CPicture& pic, int frame, uint8_t* slot, std::string& error) {
    Planes& pl = ThreadPlanes();
    ToPlanes(pic, frame, pl, slot);
    const int n = Tamo_Encode_HD(kCodecBudgetUnits, pl.y.data(), pl.cb.data(), pl.cr.data(), slot);
    if (n <= 0 || size_t(n) > size_t(kCodecBudgetUnits) * 512) {
        error = "the codec could not encode the picture";
        return false;
    }
    SealCodecSlot(slot);
    return true;
}

bool DnxhdCompress(const CPicture& pic, int frame, DnxhdRange range, uint8_t* slot, std::string& error,
                   const CompressStop& stop) {
    if (FfmpegPath().empty()) {
        error = "ffmpeg was found neither in the program folder nor on PATH";
        return false;
    }
    CTempFolder tmp;
    if (!tmp.Ok()) {
        error = "no temporary folder";
        return false;
    }
    const std::string raw = tmp.File("frame.raw"), out = tmp.File("frame.dnxhd");
    // The CPicture layout is what ffmpeg reads as rgb32.
    if (!WriteAll(raw, pic.Row(frame * kH), kFramePixels * 4)) {
        error = "the temporary frame could not be written";
        return false;
    }
    const std::string scale = std::string("scale=1920:1080:out_range=") + (range == DnxhdRange::Pc ? "pc" : "tv");
    // yuv422p before the output: Debian's ffmpeg refuses the profile otherwise and writes nothing.
    if (!RunFfmpeg({"-vcodec", "rawvideo", "-f", "rawvideo", "-pix_fmt", "rgb32", "-s", "1920x1080", "-i", raw, "-vf",
                    scale, "-an", "-vcodec", "dnxhd", "-b:v", "120M", "-q:v", "1", "-y", "-vframes", "1", "-pix_fmt",
                    "yuv422p", out},
                   stop, error))
        return false;
    if (!ReadExactly(out, slot, kDnxhdFrameBytes)) {
        error = "ffmpeg did not write a whole DNxHD frame";
        return false;
    }
    return true;
}

bool DnxhdDecompress(const uint8_t* in, CPicture& pic, int frame, std::string& error, const CompressStop& stop) {
    if (FfmpegPath().empty()) {
        error = "ffmpeg was found neither in the program folder nor on PATH";
        return false;
    }
    CTempFolder tmp;
    if (!tmp.Ok()) {
        error = "no temporary folder";
        return false;
    }
    const std::string dnx = tmp.File("frame.dnxhd"), raw = tmp.File("frame.raw");
    if (!WriteAll(dnx, in, kDnxhdFrameBytes)) {
        error = "the temporary frame could not be written";
        return false;
    }
    if (!RunFfmpeg({"-i", dnx, "-vcodec", "rawvideo", "-f", "rawvideo", "-pix_fmt", "rgb32", "-s", "1920x1080", "-y",
                    raw},
                   stop, error))
        return false;
    std::vector<uint32_t> px(kFramePixels);
    if (!ReadExactly(raw, px.data(), kFramePixels * 4)) {
        error = "ffmpeg did not decode a whole frame";
        return false;
    }
    // ffmpeg writes opaque as 255 in the alpha byte; ours is a transparency byte.
    uint32_t* dst = pic.Row(frame * kH);
    for (size_t i = 0; i < kFramePixels; ++i) dst[i] = px[i] ^ 0xFF000000u;
    return true;
}

class CCompressedFormats : public ICompressedPictureCodec {
public:
    bool Handles(int format) const override { return IsCompressedPictureFormat(format); }
    bool PictureToDevice(const CPicture& pic, bool, int format, int, uint8_t* buf, size_t bufSize, int) override {
        std::string error;
        return CompressPicture(pic, Codec(format), DnxhdRange::Pc, buf, bufSize, error);
    }
    // The first frame into the top rows; rows below it are opaque black rather than whatever
    // the allocation held.
    bool DeviceToPicture(CPicture& pic, int, const uint8_t* buf, size_t bufSize, bool, int format) override {
        if (pic.Width() != kW || pic.Height() < kH) return false;
        std::string error;
        if (!DecompressFrame(buf, bufSize, Codec(format), pic, 0, error)) return false;
        if (pic.Height() > kH) pic.Fill(0x00000000u, 0, 0, kH, kW, pic.Height() - kH);
        return true;
    }

private:
    static CompressedCodec Codec(int format) { return format == 5 ? CompressedCodec::Dnxhd : CompressedCodec::System; }
};

CCompressedFormats g_formats;
// Linked in with the compressed pictures element, so every program with a model has it.
[[maybe_unused]] const bool g_registered = (SetCompressedPictureCodec(&g_formats), true);
}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size, uint32_t crc) {
#ifdef __x86_64__
    static const bool clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    if (clmul && size >= 64) return CrcFold(data, size, crc);
#endif
    return CrcTable(data, size, crc);
}

uint32_t CodecSlotCheck(const uint8_t* slot) {
    static const uint8_t zero[4] = {};
    uint32_t crc = Crc32Mpeg2(slot, kCodecCheckOffset1);
    crc = Crc32Mpeg2(zero, 4, crc);
    crc = Crc32Mpeg2(slot + kCodecCheckOffset1 + 4, kCodecCheckOffset2 - kCodecCheckOffset1 - 4, crc);
    return Crc32Mpeg2(zero, 4, crc);
}

void SealCodecSlot(uint8_t* slot) {
    const uint32_t check = CodecSlotCheck(slot);
    PutLE32(slot + kCodecCheckOffset1, check);
    PutLE32(slot + kCodecCheckOffset2, check);
}

size_t CompressedFrameBytes(CompressedCodec codec) {
    return codec == CompressedCodec::Dnxhd ? kDnxhdFrameBytes : kCodecFrameBytes;
}

int CompressedFrameCount(const CPicture& pic) {
    if (pic.Width() != kW || pic.Height() < kH || pic.Height() % kH) return 0;
    return pic.Height() / kH;
}

std::string FfmpegPath() {
    const std::string local = ProgramFolder() + "ffmpeg";
    if (access(local.c_str(), X_OK) == 0) return local;
    const char* path = std::getenv("PATH");
    if (!path) return {};
    const std::string p = path;
    for (size_t start = 0; start <= p.size();) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        const std::string dir = p.substr(start, end - start);
        if (!dir.empty()) {
            const std::string exe = dir + "/ffmpeg";
            struct stat st {};
            if (stat(exe.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(exe.c_str(), X_OK) == 0) return exe;
        }
        start = end + 1;
    }
    return {};
}

bool CompressPicture(const CPicture& pic, CompressedCodec codec, DnxhdRange range, uint8_t* out, size_t outSize,
                     std::string& error, const CompressStop& stop) {
    const int frames = CompressedFrameCount(pic);
    const size_t slot = CompressedFrameBytes(codec);
    if (!frames) {
        error = "compressed pictures are 1920 pixels wide and 1080 lines (or a stack of them) high";
        return false;
    }
    if (!out || outSize < size_t(frames) * slot) {
        error = "the buffer cannot hold the compressed frames";
        return false;
    }
    for (int k = 0; k < frames; ++k) {
        if (Stopped(stop)) {
            error = "stopped";
            return false;
        }
        uint8_t* dst = out + size_t(k) * slot;
        const bool ok = codec == CompressedCodec::System ? SystemCompress(pic, k, dst, error)
                                                         : DnxhdCompress(pic, k, range, dst, error, stop);
        if (!ok) return false;
    }
    return true;
}

bool DecompressFrame(const uint8_t* in, size_t inSize, CompressedCodec codec, CPicture& pic, int frame,
                     std::string& error, const CompressStop& stop) {
    if (pic.Width() != kW || frame < 0 || pic.Height() < (frame + 1) * kH) {
        error = "compressed pictures are 1920 x 1080";
        return false;
    }
    if (!in || inSize < CompressedFrameBytes(codec)) {
        error = "the compressed frame is short";
        return false;
    }
    if (codec == CompressedCodec::Dnxhd) return DnxhdDecompress(in, pic, frame, error, stop);
    Planes& pl = ThreadPlanes();
    if (Tamo_Decode(in, int(kCodecFrameBytes), pl.y.data(), pl.cb.data(), pl.cr.data()) != 0) {
        error = "the compressed stream does not decode";
        return false;
    }
    FromPlanes(pl, pic, frame);
    return true;
}

void InstallCompressedPictureCodec() { SetCompressedPictureCodec(&g_formats); }

CCompressStopScope::CCompressStopScope(const CompressStop& stop) : m_previous(t_stop) { t_stop = &stop; }
CCompressStopScope::~CCompressStopScope() { t_stop = m_previous; }
