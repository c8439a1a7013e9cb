#pragma once
#include "codec/CAppLaunch.h"
#include "codec/TamoEncoder.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A manual-reset event.
class CEvent {
public:
    void Set();
    void Reset();
    void Wait();
    bool IsSet();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

// Encodes the frames of an image or video file: ffprobe tells the size and length, ffmpeg
// scales the file to the picture size at 25 frames per second into a FIFO, and worker threads
// (one per processor at most) encode the frames, delivered in order.
class FerloFileEncoder {
public:
    // maxWorkers 0: one per processor.
    FerloFileEncoder(const std::string& utf8Path, int type, int budgetUnits, bool studioRange, int maxWorkers = 0);
    FerloFileEncoder(const char16_t* path, int type, int budgetUnits, bool studioRange, int maxWorkers = 0);
    virtual ~FerloFileEncoder();
    FerloFileEncoder(const FerloFileEncoder&) = delete;
    FerloFileEncoder& operator=(const FerloFileEncoder&) = delete;

    bool Usable() const { return m_usable; }
    int FrameCount() const { return m_frameCount; }
    bool HasAudio() const { return m_hasAudio; }
    int WorkerCount() const { return int(m_workers.size()); }
    int ProbeRuns() const { return m_probeRuns; }

    // Produces the next frame in order; false when the video has no more (or none at all).
    bool NextFrame();
    const uint8_t* FrameData() const { return m_delivered.data(); }
    int FrameSize() const { return m_deliveredSize; }
    uint32_t FrameNumber() const { return m_deliveredNumber; }
    // Audio bytes read alongside the video so far (not part of any output).
    int64_t AudioBytes() const { return m_audioBytes; }

    static std::string Utf16ToUtf8(const char16_t* s);

private:
    struct Worker {
        FerloFileEncoder* owner = nullptr;
        int index = 0;
        bool busy = false;
        std::atomic<bool> workReady{false};
        std::atomic<bool> quit{false};
        uint32_t frameNumber = 0;
        std::vector<uint8_t> frame;
        uint8_t* y = nullptr;
        uint8_t* cb = nullptr;
        uint8_t* cr = nullptr;
        size_t filled = 0;
        std::vector<uint8_t> out;
        int resultSize = 0;
        std::unique_ptr<TamoEncoder> encoder;
        std::thread thread;
        CEvent start;
        CEvent done;
    };

    void Init(const std::string& path, int type, int budgetUnits, bool studioRange, int maxWorkers);
    bool Probe(const std::string& path);
    bool OpenFifo(const std::string& path, int& fd);
    void PumpVideo(int timeoutMs);
    void Received(size_t n);
    void PumpAudio();
    void FrameComplete(Worker& w);
    static void WorkerMain(Worker* w);

    int m_type = 0;
    int m_frameCount = 0;
    bool m_usable = false;
    bool m_hasAudio = false;
    std::unique_ptr<CAppLaunch> m_video = std::make_unique<CAppLaunch>();
    int m_videoFd = -1;
    int m_width = 0;
    int m_height = 0;
    int m_codedHeight = 0;
    size_t m_lumaSize = 0;       // display
    size_t m_codedLumaSize = 0;
    size_t m_frameSize = 0;      // from the pipe
    size_t m_bufferSize = 0;
    int m_budgetBytes = 0;
    std::vector<std::unique_ptr<Worker>> m_workers;
    int m_filling = -1;
    int m_holding = -1;
    uint32_t m_nextDeliver = 0;
    uint32_t m_nextAssign = 0;
    bool m_videoFinished = false;
    std::unique_ptr<CAppLaunch> m_audio = std::make_unique<CAppLaunch>();
    int m_audioFd = -1;
    std::vector<uint8_t> m_audioChunk;
    size_t m_audioFill = 0;
    int64_t m_audioBytes = 0;
    bool m_audioFinished = true;

    std::string m_dir;  // private folder of the FIFOs
    std::string m_videoPath;
    std::string m_audioPath;
    int m_probeRuns = 0;
    std::vector<uint8_t> m_delivered;
    int m_deliveredSize = 0;
    uint32_t m_deliveredNumber = 0;
};
