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

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        t[i] = c;
    }
    return t;
}

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

// BT.709, 8 bits, saturation factor 1: the conversion of device format 2 gives Cb Y0 Cr Y1
// per pixel pair; the planes keep every luma and the chroma of even lines only.
bool ToPlanes(const CPicture& frame, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    thread_local std::vector<uint8_t> packed;
    packed.resize(kFramePixels * 2);
    if (!PictureToDevice(frame, true, 2, 100, packed.data(), packed.size(), kW)) return false;
    for (int line = 0; line < kH; ++line) {
        const uint8_t* p = packed.data() + size_t(line) * kW * 2;
        uint8_t* yl = y + size_t(line) * kW;
        for (int i = 0; i < kW / 2; ++i) {
            yl[2 * i] = p[4 * i + 1];
            yl[2 * i + 1] = p[4 * i + 3];
        }
        if (line & 1) continue;
        uint8_t* cbl = cb + size_t(line / 2) * (kW / 2);
        uint8_t* crl = cr + size_t(line / 2) * (kW / 2);
        for (int i = 0; i < kW / 2; ++i) {
            cbl[i] = p[4 * i];
            crl[i] = p[4 * i + 2];
        }
    }
    // The coded lines below the picture carry nothing.
    std::memset(y + kFramePixels, 0, size_t(kCodedH - kH) * kW);
    std::memset(cb + kFramePixels / 4, 128, size_t(kCodedH - kH) / 2 * (kW / 2));
    std::memset(cr + kFramePixels / 4, 128, size_t(kCodedH - kH) / 2 * (kW / 2));
    return true;
}

bool FromPlanes(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, CPicture& frame) {
    thread_local std::vector<uint8_t> packed;
    packed.resize(kFramePixels * 2);
    for (int line = 0; line < kH; ++line) {
        uint8_t* p = packed.data() + size_t(line) * kW * 2;
        const uint8_t* yl = y + size_t(line) * kW;
        const uint8_t* cbl = cb + size_t(line / 2) * (kW / 2);
        const uint8_t* crl = cr + size_t(line / 2) * (kW / 2);
        for (int i = 0; i < kW / 2; ++i) {
            p[4 * i] = cbl[i];
            p[4 * i + 1] = yl[2 * i];
            p[4 * i + 2] = crl[i];
            p[4 * i + 3] = yl[2 * i + 1];
        }
    }
    return DeviceToPicture(frame, kW, packed.data(), packed.size(), true, 2);
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

// The frame's rows as a picture of their own (the picture itself when it is one frame).
const CPicture& FrameOf(const CPicture& pic, int frame, CPicture& scratch) {
    if (pic.Height() == kH) return pic;
    scratch.Create(kW, kH);
    std::memcpy(scratch.Row(0), pic.Row(frame * kH), kFramePixels * 4);
    return scratch;
}

bool SystemCompress(const CPicture& frame, uint8_t* slot, std::string& error) {
    Planes& pl = ThreadPlanes();
    if (!ToPlanes(frame, pl.y.data(), pl.cb.data(), pl.cr.data())) {
        error = "the picture could not be converted";
        return false;
    }
    std::memset(slot, 0, kCodecFrameBytes);
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
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
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
    CPicture scratch;
    for (int k = 0; k < frames; ++k) {
        if (Stopped(stop)) {
            error = "stopped";
            return false;
        }
        uint8_t* dst = out + size_t(k) * slot;
        const bool ok = codec == CompressedCodec::System ? SystemCompress(FrameOf(pic, k, scratch), dst, error)
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
    if (pic.Height() == kH) return FromPlanes(pl.y.data(), pl.cb.data(), pl.cr.data(), pic);
    CPicture one(kW, kH);
    if (!FromPlanes(pl.y.data(), pl.cb.data(), pl.cr.data(), one)) return false;
    std::memcpy(pic.Row(frame * kH), one.Row(0), kFramePixels * 4);
    return true;
}

void InstallCompressedPictureCodec() { SetCompressedPictureCodec(&g_formats); }

CCompressStopScope::CCompressStopScope(const CompressStop& stop) : m_previous(t_stop) { t_stop = &stop; }
CCompressStopScope::~CCompressStopScope() { t_stop = m_previous; }
