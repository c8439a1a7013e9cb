#include "codec/FerloFileEncoder.h"

#include "codec/CINIParser.h"
#include "codec/TamoTables.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kFrameRate = 25;
constexpr size_t kAudioChunk = 48000 * 2 * 3 / kFrameRate;  // one frame's worth of s24le stereo
constexpr int kPipeBuffer = 0x100000;

bool IsImageExtension(const std::string& path) {
    auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot);
    for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    // Substring test as the list is written; a bare "." is no extension.
    return ext.size() > 1 && std::string(".bmp.gif.jpg.jpe.jpeg.png.tga.tiff").find(ext) != std::string::npos;
}
}  // namespace

void CEvent::Set() {
    std::lock_guard<std::mutex> l(m_mutex);
    m_set = true;
    m_cv.notify_all();
}
void CEvent::Reset() {
    std::lock_guard<std::mutex> l(m_mutex);
    m_set = false;
}
void CEvent::Wait() {
    std::unique_lock<std::mutex> l(m_mutex);
    m_cv.wait(l, [&] { return m_set; });
}
bool CEvent::IsSet() {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_set;
}

std::string FerloFileEncoder::Utf16ToUtf8(const char16_t* s) {
    std::string out;
    if (!s) return out;
    for (size_t i = 0; s[i]; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(s[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

FerloFileEncoder::FerloFileEncoder(const char16_t* path, int type, int budgetUnits, bool studioRange, int maxWorkers) {
    Init(Utf16ToUtf8(path), type, budgetUnits, studioRange, maxWorkers);
}

FerloFileEncoder::FerloFileEncoder(const std::string& path, int type, int budgetUnits, bool studioRange, int maxWorkers) {
    Init(path, type, budgetUnits, studioRange, maxWorkers);
}

bool FerloFileEncoder::Probe(const std::string& path) {
    {
        CAppLaunch probe;
        ++m_probeRuns;
        if (!probe.Start("ffprobe", {"-v", "quiet", "-show_entries", "format=duration", "-show_streams", "-select_streams", "v:0", path}, true) ||
            !probe.Wait(-1) || probe.ExitCode() != 0)
            return false;
        CINIParser ini;
        if (!ini.Open(probe.CapturePath())) return false;
        if (std::atoi(ini.Get("width", "STREAM").c_str()) <= 0 || std::atoi(ini.Get("height", "STREAM").c_str()) <= 0)
            return false;
        if (IsImageExtension(path)) {
            m_frameCount = 1;
        } else {
            double d = std::strtod(ini.Get("duration", "STREAM").c_str(), nullptr);
            double frames = d * kFrameRate;
            m_frameCount = frames > 0 && frames < 2e9 ? int(frames) : 0;
            if (m_frameCount == 0) {
                long s = std::atol(ini.Get("duration", "FORMAT").c_str());
                m_frameCount = s > 0 && s < 80000000 ? int(s * kFrameRate) : 0;
            }
            if (m_frameCount == 0) m_frameCount = std::atoi(ini.Get("TAG:NUMBER_OF_FRAMES", "STREAM").c_str());
        }
    }
    if (m_frameCount <= 0) return false;
    if (!IsImageExtension(path)) {
        CAppLaunch probe;
        ++m_probeRuns;
        if (probe.Start("ffprobe", {"-v", "quiet", "-show_streams", "-select_streams", "a:0", path}, true) && probe.Wait(-1)) {
            CINIParser ini;
            m_hasAudio = ini.Open(probe.CapturePath()) && std::atoi(ini.Get("channels", "STREAM").c_str()) > 0;
        }
    }
    return true;
}

bool FerloFileEncoder::OpenFifo(const std::string& path, int& fd) {
    if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return false;
    // Non-blocking: opening does not wait for the writer, and neither do reads.
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    fcntl(fd, F_SETPIPE_SZ, kPipeBuffer);  // a larger pipe when the system allows it
    return true;
}

void FerloFileEncoder::Init(const std::string& path, int type, int budgetUnits, bool studioRange, int maxWorkers) {
    m_type = type;
    const tamo::Geometry* g = tamo::GeometryOf(type);
    if (!g || path.empty()) return;
    // ffmpeg and ffprobe get an absolute path whatever their working folder.
    std::string abs = path;
    if (abs[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) abs = std::string(cwd) + "/" + path;
    }
    if (!Probe(abs)) return;
    m_usable = true;

    m_width = g->width;
    m_height = g->height;
    m_codedHeight = g->codedHeight;
    m_lumaSize = size_t(m_width) * m_height;
    m_codedLumaSize = size_t(m_width) * m_codedHeight;
    m_frameSize = m_lumaSize * 3 / 2;
    m_bufferSize = m_codedLumaSize * 3 / 2;
    m_budgetBytes = std::clamp(budgetUnits, 0, 0xFFFF) * 512;
    m_delivered.resize(size_t(m_budgetBytes));

    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tamo-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        m_videoFinished = true;
        return;
    }
    m_dir = tmpl;
    m_videoPath = m_dir + "/video.yuv";
    if (!OpenFifo(m_videoPath, m_videoFd)) {
        m_videoFinished = true;
        return;
    }
    std::string vf = "fps=" + std::to_string(kFrameRate) + ",scale=" + std::to_string(m_width) + ":" +
                     std::to_string(m_height) + ":out_range=" + (studioRange ? "tv" : "pc") + ",yadif=1";
    if (!m_video->Start("ffmpeg", {"-i", abs, "-vf", vf, "-an", "-pix_fmt", "yuv420p", "-r", std::to_string(kFrameRate), "-y", m_videoPath}, false))
        m_videoFinished = true;  // no frame will arrive

    int processors = int(std::thread::hardware_concurrency());
    int count = maxWorkers > 0 ? maxWorkers : std::max(processors, 1);
    count = std::min(count, m_frameCount);
    for (int i = 0; i < count; ++i) {
        auto w = std::make_unique<Worker>();
        w->owner = this;
        w->index = i;
        w->frame.resize(m_bufferSize);
        w->y = w->frame.data();
        w->cb = w->y + m_codedLumaSize;
        w->cr = w->cb + m_codedLumaSize / 4;
        w->out.resize(size_t(m_budgetBytes));
        w->encoder = std::make_unique<TamoEncoder>(budgetUnits, type, kFrameRate);
        w->thread = std::thread(WorkerMain, w.get());
        m_workers.push_back(std::move(w));
    }

    if (m_hasAudio) {
        m_audioPath = m_dir + "/audio.raw";
        if (OpenFifo(m_audioPath, m_audioFd) &&
            m_audio->Start("ffmpeg", {"-i", abs, "-f", "s24le", "-ar", "48000", "-ac", "2", "-acodec", "pcm_s24le", "-y", m_audioPath}, false)) {
            m_audioChunk.resize(kAudioChunk);
            m_audioFinished = false;
        }
    }
}

FerloFileEncoder::~FerloFileEncoder() {
    // Closing our ends makes a writing ffmpeg fail on its next write. One that is still busy
    // elsewhere (or waits to open a pipe nobody reads any more) only makes frames nobody wants,
    // so it is stopped after a short while.
    if (m_videoFd >= 0) close(m_videoFd);
    m_videoFd = -1;
    if (m_audioFd >= 0) close(m_audioFd);
    m_audioFd = -1;
    m_video->Stop(100);
    m_audio->Stop(100);
    m_video.reset();
    m_audio.reset();
    for (auto& w : m_workers) {
        w->quit = true;
        w->start.Set();
    }
    for (auto& w : m_workers)
        if (w->thread.joinable()) w->thread.join();  // an encode in progress ends in well under a second
    m_workers.clear();
    if (!m_videoPath.empty()) unlink(m_videoPath.c_str());
    if (!m_audioPath.empty()) unlink(m_audioPath.c_str());
    if (!m_dir.empty()) rmdir(m_dir.c_str());
}

void FerloFileEncoder::WorkerMain(Worker* w) {
    for (;;) {
        w->start.Wait();
        if (w->quit) return;
        w->start.Reset();
        if (w->workReady.exchange(false)) {
            w->resultSize = w->encoder->Encode(w->frameNumber, w->y, w->cb, w->cr, w->out.data());
            w->done.Set();
        }
    }
}

void FerloFileEncoder::FrameComplete(Worker& w) {
    if (m_type == tamo::kTypeHD) {
        // The pipe brings 1080 luma and 540 chroma lines; the coded picture has 8 and 4 more.
        const size_t cw = size_t(m_width) / 2;
        uint8_t* base = w.frame.data();
        const size_t pipeChroma = cw * (size_t(m_height) / 2);
        const size_t codedChroma = cw * (size_t(m_codedHeight) / 2);
        std::memmove(base + m_codedLumaSize + codedChroma, base + m_lumaSize + pipeChroma, pipeChroma);  // Cr first
        std::memmove(base + m_codedLumaSize, base + m_lumaSize, pipeChroma);
        std::memset(base + m_lumaSize, 0, m_codedLumaSize - m_lumaSize);
        std::memset(base + m_codedLumaSize + pipeChroma, 128, codedChroma - pipeChroma);
        std::memset(base + m_codedLumaSize + codedChroma + pipeChroma, 128, codedChroma - pipeChroma);
    }
    w.busy = true;
    w.frameNumber = m_nextAssign++;
    w.done.Reset();
    w.workReady = true;
    w.start.Set();
}

void FerloFileEncoder::Received(size_t n) {
    Worker& w = *m_workers[size_t(m_filling)];
    w.filled += n;
    if (w.filled == m_frameSize) {
        FrameComplete(w);
        m_filling = -1;
    }
}

void FerloFileEncoder::PumpVideo(int timeoutMs) {
    Worker& w = *m_workers[size_t(m_filling)];
    pollfd pfd{m_videoFd, POLLIN, 0};
    poll(&pfd, 1, timeoutMs);
    ssize_t n = read(m_videoFd, w.frame.data() + w.filled, m_frameSize - w.filled);
    if (n > 0) return Received(size_t(n));
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        m_videoFinished = true;
        return;
    }
    // Nothing to read: ffmpeg has not opened the pipe yet, is busy, or has ended. Once it has
    // ended, everything it wrote is in the pipe, so one more empty read means the end.
    if (m_video->Wait(0)) {
        n = read(m_videoFd, w.frame.data() + w.filled, m_frameSize - w.filled);
        if (n > 0) return Received(size_t(n));
        m_videoFinished = true;
    } else if (n == 0) {
        poll(nullptr, 0, 1);  // no writer at the moment: do not spin
    }
}

void FerloFileEncoder::PumpAudio() {
    if (m_audioFinished) return;
    for (;;) {
        ssize_t n = read(m_audioFd, m_audioChunk.data() + m_audioFill, m_audioChunk.size() - m_audioFill);
        if (n > 0) {
            m_audioFill += size_t(n);
            m_audioBytes += n;
            if (m_audioFill == m_audioChunk.size()) m_audioFill = 0;  // a frame's worth of sound
            continue;
        }
        if ((n == 0 || (errno != EAGAIN && errno != EINTR)) && m_audio->Wait(0)) {
            m_audioFinished = true;
            close(m_audioFd);
            m_audioFd = -1;
        }
        return;
    }
}

bool FerloFileEncoder::NextFrame() {
    if (m_workers.empty()) return false;
    for (;;) {
        if (m_holding < 0)
            for (auto& w : m_workers)
                if (w->busy && w->frameNumber == m_nextDeliver) m_holding = w->index;
        if (m_filling < 0 && !m_videoFinished)
            for (auto& w : m_workers)
                if (!w->busy) {
                    m_filling = w->index;
                    w->filled = 0;
                    break;
                }
        // Deliver as soon as the frame is ready or nothing else can be done meanwhile.
        if (m_holding >= 0) {
            Worker& h = *m_workers[size_t(m_holding)];
            if (m_filling < 0 || m_videoFinished || h.done.IsSet()) {
                h.done.Wait();
                m_deliveredSize = h.resultSize;
                m_deliveredNumber = h.frameNumber;
                std::memcpy(m_delivered.data(), h.out.data(), size_t(h.resultSize));
                h.busy = false;
                m_holding = -1;
                ++m_nextDeliver;
                PumpAudio();
                return true;
            }
        }
        if (m_filling >= 0 && !m_videoFinished) PumpVideo(m_holding >= 0 ? 1 : 20);
        PumpAudio();
        if (m_videoFinished) {
            m_filling = -1;  // an incomplete frame is dropped
            if (m_holding < 0) {
                bool any = false;
                for (auto& w : m_workers) any = any || (w->busy && w->frameNumber == m_nextDeliver);
                if (!any) return false;
            }
        }
    }
}
