#pragma once
#include "IDeviceEngine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

enum class MsgIcon { Stop, Exclamation, Question, Information };

// What the operation protocol shows; the main window implements it, tests record it.
class IOperationUi {
public:
    virtual ~IOperationUi() = default;
    // Busy: every control but "Stop operation" disabled, tab rows and "E&xit" too.
    virtual void OperationStateChanged(bool busy) = 0;
    virtual void ShowProgressLine(bool visible) = 0;
    virtual void ProgressChanged() = 0;  // read the display from COperations::Display()
    virtual void ShowMessage(const std::string& text, MsgIcon icon) = 0;
    // Yes/No; defaultNo puts the focus on No.
    virtual bool AskYesNo(const std::string& text, MsgIcon icon, bool defaultNo) = 0;
    virtual void SetTimer(bool running) = 0;  // the one-second timer
};

// The progress line: bar, percentage, elapsed time and activity text.
struct CProgressDisplay {
    int total = 0;
    int position = 0;
    int lastPercent = -1;
    int lastSeconds = 0;
    int64_t startMs = 0;
    int64_t startAddress = -1;  // -1: show the engine's command address
    std::string percentText, elapsedText, activityText;
    std::string lastWord;
    int64_t lastAddress = -1;

    void Start(int total, int64_t address, int64_t nowMs);
    // Returns true when anything shown changed.
    bool Update(int value, int commandCode, uint32_t commandAddress, int64_t nowMs);
};

// Operation kinds of the main window.
enum : int {
    kOpIdle = 0,
    kOpSerialRead = 1,
    kOpBankRead = 12,
    kOpBankWrite = 13,
    kOpSignature = 14,
    kOpFactory = 18,
    kOpSettingRead = 19,
    kOpSettingWrite = 20,
    kOpStatusRead = 21,
    kOpSettingsPage = 22,
    kOpResetDefault = 23,
    kOpReport = 24,
    kOpTableWrite = 27,
    kOpTableRead = 28,
    kOpBusScan = 32,
    kOpControlsWrite = 33,
    kOpControlsRead = 34,
    kOpSlotBlockRead = 40,
    kOpSlotBlockWrite = 41,
    kOpSlotWrite = 42,
    kOpSlotRead = 43,
    kOpBlockRead = 44,
    kOpBlockWrite = 45,
    kOpBlockReset = 46,
    kOpProfileSave = 47,
    kOpProfileRestore = 48,
    kOpDeviceSearch = 51,
    kOpMultiscreenWrite = 61,
    kOpLabelRead = 71,
    kOpLabelImages = 72,
    kOpClock = 81,
    kOpMappingRead = 91,
    // Work of a page off the device link (compressing, decompressing): progress and Stop as
    // for a command, the result through the completion step.
    kOpLocalWork = 100,
};

// The device-operation protocol every page uses: begin, progress, completion by kind, end.
// Runs on the user-interface thread; the link's notifications are delivered to Progress()
// and Completed() there.
class COperations {
public:
    // A completion step: true keeps the operation open (it started the next command).
    using Step = std::function<bool(int count)>;

    COperations(IDeviceEngine& engine, IOperationUi& ui, std::function<int64_t()> clockMs = {});

    void SetStep(int kind, Step step) { m_steps[kind] = std::move(step); }
    // Called when a command of this kind fails, before any prompt (the profile save drops its file).
    void SetFailureHook(int kind, std::function<void()> hook) { m_failureHooks[kind] = std::move(hook); }
    // The block being written by a profile or factory restore, for the prompt without an error kind.
    void SetBlockAddress(std::function<uint32_t()> f) { m_blockAddress = std::move(f); }
    // Ethernet chosen without a device address: link failures are not shown.
    void SetSilentFailures(std::function<bool()> f) { m_silent = std::move(f); }
    // What the idle tick does (the status page's refresh).
    void SetIdleTick(std::function<void()> f) { m_idleTick = std::move(f); }

    // step: what to do on success for this operation; without one, the step registered for
    // the kind (SetStep) runs. The page that begins an operation passes its own.
    // Counters and the step index start at 0 (set them after Begin).
    void Begin(int kind, int total, int64_t address = -1, Step onDone = {});
    // Multi-step operations that change kind midway (40 -> 41) keep everything else.
    void SetKind(int kind) { m_kind = kind; }
    // From inside a step: the step that handles the next command's completion.
    void ContinueWith(Step next) { m_step = std::move(next); }
    int Progress(int value);  // nonzero asks the link to abort
    void Completed(int result, int count);
    void End();
    void RequestStop() { if (m_kind) m_abort = true; }
    void Tick();
    // Runs after the current operation has ended (a step that chains a new operation).
    void AfterEnd(std::function<void()> f) { m_afterEnd = std::move(f); }
    // "Write complete.": full bar, the message, end.
    void WriteComplete();

    int Kind() const { return m_kind; }
    bool Busy() const { return m_kind != kOpIdle; }
    // Safe from any thread: link workers answer their progress steps with it.
    bool AbortRequested() const { return m_abort.load(); }
    const CProgressDisplay& Display() const { return m_display; }

    // Per-kind state the pages keep across the commands of one operation.
    int step = 0;
    int counter1 = 0;
    int counter2 = 0;
    int profileDone = 0;  // bytes of the current block already done (profiles)

    int ScaleProgress(int value) const;

private:
    void RunStep(int count);

    IDeviceEngine& m_engine;
    IOperationUi& m_ui;
    std::function<int64_t()> m_clock;
    std::map<int, Step> m_steps;
    std::map<int, std::function<void()>> m_failureHooks;
    std::function<uint32_t()> m_blockAddress;
    std::function<bool()> m_silent;
    std::function<void()> m_idleTick;
    std::function<void()> m_afterEnd;
    Step m_step;
    int m_kind = kOpIdle;
    std::atomic<bool> m_abort{false};  // read by link workers
    CProgressDisplay m_display;
};

extern const char* const kTextWriteComplete;
