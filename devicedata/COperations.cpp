#include "COperations.h"

#include "link/SerialPortList.h"

#include "app/Strings.h"

#include <chrono>
#include <cstdio>

const char* const kTextWriteComplete = "Write complete.";

namespace {
int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* ActivityWord(int command) {
    if (command == 4 || command == 5) return "Writing";
    if (command == 6) return "Erasing";
    return "Reading";
}
}  // namespace

void CProgressDisplay::Start(int t, int64_t address, int64_t nowMs) {
    total = t;
    position = 0;
    lastPercent = -1;
    lastSeconds = 0;
    startMs = nowMs;
    startAddress = address;
    percentText.clear();
    elapsedText.clear();
    activityText = "xxx";
    lastWord.clear();
    lastAddress = -1;
}

bool CProgressDisplay::Update(int value, int commandCode, uint32_t commandAddress, int64_t nowMs) {
    if (total == 0) return false;
    bool changed = position != value;
    position = value;
    int percent = int(int64_t(value) * 100 / total);
    if (percent != lastPercent) {
        lastPercent = percent;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d %%", percent);
        percentText = buf;
        changed = true;
    }
    int seconds = int((nowMs - startMs) / 1000);
    if (seconds != lastSeconds && seconds != 0) {
        lastSeconds = seconds;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d", seconds / 3600, (seconds / 60) % 60, seconds % 60);
        elapsedText = buf;
        changed = true;
    }
    std::string w = ActivityWord(commandCode);
    int64_t address = startAddress == -1 ? int64_t(commandAddress) : startAddress;
    if (w != lastWord || address != lastAddress) {
        lastWord = w;
        lastAddress = address;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s @%08X", w.c_str(), unsigned(uint32_t(address)));
        activityText = buf;
        changed = true;
    }
    return changed;
}

COperations::COperations(IDeviceEngine& engine, IOperationUi& ui, std::function<int64_t()> clockMs)
    : m_engine(engine), m_ui(ui), m_clock(clockMs ? std::move(clockMs) : std::function<int64_t()>(SteadyMs)) {}

void COperations::Begin(int kind, int total, int64_t address, Step onDone) {
    m_kind = kind;
    m_step = std::move(onDone);
    step = 0;
    counter1 = counter2 = profileDone = 0;
    m_abort = false;
    m_afterEnd = nullptr;
    m_display.Start(total, address, m_clock());
    m_display.Update(0, m_engine.CurrentCommand(), m_engine.CommandAddress(), m_clock());
    m_ui.ShowProgressLine(true);
    m_ui.ProgressChanged();
    m_ui.OperationStateChanged(true);
    m_ui.SetTimer(true);
}

int COperations::ScaleProgress(int value) const {
    switch (m_kind) {
    case kOpBankRead:
    case kOpBankWrite:
        return step > 999 ? 0 : value + step * 0x20000;
    case kOpFactory: {
        int v = step * 100000 - counter1 * 90000 - 100000;
        if (counter2 != 0) v += int(int64_t(value) * 100 / counter2 * 1000);
        return v;
    }
    case kOpSettingsPage:
    case kOpResetDefault:
    case kOpReport:
        return step;
    case kOpSlotBlockWrite:
        return value + (counter1 ? counter1 : 0x10000);  // counter1: the bytes read first
    case kOpProfileSave:
    case kOpProfileRestore: {
        // counter2: block size; profileDone: bytes of the block already done.
        int part = 0;
        if (counter2 >= 257) {
            part = (value + profileDone) / (counter2 / 256);
            if (part > 255) part = 255;
        }
        return part + (step & ~255);
    }
    case kOpMultiscreenWrite:
        return value + counter1;  // bytes of the parts already written
    default:
        return value;
    }
}

int COperations::Progress(int value) {
    if (m_kind == kOpIdle) return m_abort ? 1 : 0;
    if (m_kind != kOpDeviceSearch && m_kind != kOpClock) {
        if (m_display.Update(ScaleProgress(value), m_engine.CurrentCommand(), m_engine.CommandAddress(), m_clock()))
            m_ui.ProgressChanged();
    }
    return m_abort ? 1 : 0;
}

void COperations::RunStep(int count) {
    int kind = m_kind;
    bool keepOpen = false;
    if (m_step) {
        Step s = m_step;  // the step may begin a new operation and replace m_step
        keepOpen = s(count);
    } else if (auto it = m_steps.find(kind); it != m_steps.end() && it->second) {
        keepOpen = it->second(count);
    }
    if (keepOpen) return;
    End();
    if (kind == kOpStatusRead) m_ui.SetTimer(true);
    if (m_afterEnd) {
        auto f = std::move(m_afterEnd);
        m_afterEnd = nullptr;
        f();
    }
}

void COperations::Completed(int result, int count) {
    if (m_kind == kOpIdle) return;  // late completion of an operation already ended
    if (result == 0) {
        RunStep(count);
        return;
    }
    if (auto h = m_failureHooks.find(m_kind); h != m_failureHooks.end() && h->second) h->second();
    int errKind = m_engine.ErrorKind();
    bool restore = m_kind == kOpProfileRestore || m_kind == kOpFactory;
    if (errKind != 0 || (result == 5 && restore)) {
        uint32_t address = m_engine.ErrorAddress();
        if (errKind == 0) {
            errKind = 2;
            if (m_blockAddress) address = m_blockAddress();
        }
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", address);
        std::string text = FormatMessage(kStrBlockPrompt + errKind, {hex});
        if (m_ui.AskYesNo(text, MsgIcon::Stop, true)) {
            RunStep(count);
        } else {
            End();
        }
        return;
    }
    if (!(m_silent && m_silent())) {
        std::string text = FormatMessage(kStrLinkError + result);
        // A port refused for lack of permission: say which group opens it.
        const std::string hint = result == 1 ? TakePortOpenHint() : std::string();
        if (!hint.empty()) text += "\n\n" + hint;
        m_ui.ShowMessage(text, MsgIcon::Stop);
    }
    End();
}

void COperations::End() {
    m_ui.SetTimer(false);
    m_kind = kOpIdle;
    m_abort = false;
    m_ui.OperationStateChanged(false);
    m_ui.ShowProgressLine(false);
}

void COperations::WriteComplete() {
    if (m_display.Update(m_display.total, m_engine.CurrentCommand(), m_engine.CommandAddress(), m_clock()))
        m_ui.ProgressChanged();
    m_ui.ShowMessage(kTextWriteComplete, MsgIcon::Information);
    // The caller's step returns false, which ends the operation.
}

void COperations::Tick() {
    if (m_kind != kOpIdle) {
        int p = m_engine.Protocol();
        if (p >= 1 && p <= 4 && m_engine.Watchdog()) {
            // The worker was cut off; its late completion is dropped.
            End();
            m_ui.ShowMessage(FormatMessage(kStrLinkError + 4), MsgIcon::Stop);
        }
        return;
    }
    if (m_idleTick) m_idleTick();
}
