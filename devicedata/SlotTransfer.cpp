#include "devicedata/SlotTransfer.h"

#include "app/Strings.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr int kCmdRead = 3;
constexpr int kCmdEraseWrite = 5;
constexpr int kRS232 = 0;
}  // namespace

const char* const kTextWriteQuestion = "Data will be written to device.\n\nDo you want to continue?";

uint32_t CSlotTransfer::BlockSpan(int interfaceChoice, uint32_t address, uint32_t size) {
    if (interfaceChoice != kRS232 || size == 0 || size > 0xFFFF) return 0;
    const uint32_t offset = address & (kBlock - 1);
    return (offset + size + kBlock - 1) / kBlock * kBlock;
}

bool CSlotTransfer::Write(uint32_t address, const uint8_t* data, uint32_t size, bool ask) {
    COperations& ops = *m_ctx.ops;
    if (ops.Busy() || size == 0) return false;
    const uint32_t span = BlockSpan(m_ctx.interfaceChoice, address, size);
    if ((span ? span : size) > m_ctx.bufferSize) return false;
    if (ask && !m_ctx.ui->AskYesNo(LoadString(21418), MsgIcon::Question, false)) return false;

    if (!span) {
        std::memcpy(m_ctx.buffer, data, size);
        ops.Begin(kOpSlotWrite, int(size), -1, [this](int) {
            m_ctx.ops->WriteComplete();
            return false;
        });
        m_ctx.engine->StartCommand(int(size), kCmdEraseWrite, address, m_ctx.buffer);
        return true;
    }
    // The slot's bytes wait until the blocks around it are read.
    auto slot = std::make_shared<std::vector<uint8_t>>(data, data + size);
    const uint32_t base = address & ~(kBlock - 1);
    const uint32_t offset = address - base;
    ops.Begin(kOpSlotBlockRead, int(2 * span), -1, [this, slot, base, offset, span](int) {
        std::memcpy(m_ctx.buffer + offset, slot->data(), slot->size());
        m_ctx.ops->SetKind(kOpSlotBlockWrite);
        m_ctx.ops->ContinueWith([this](int) {
            m_ctx.ops->WriteComplete();
            return false;
        });
        m_ctx.engine->StartCommand(int(span), kCmdEraseWrite, base, m_ctx.buffer);
        return true;
    });
    ops.counter1 = int(span);
    m_ctx.engine->StartCommand(int(span), kCmdRead, base, m_ctx.buffer);
    return true;
}

bool CSlotTransfer::Read(uint32_t address, uint32_t size,
                         std::function<void(const uint8_t* data, uint32_t size)> onRead) {
    COperations& ops = *m_ctx.ops;
    if (ops.Busy() || size == 0 || size > m_ctx.bufferSize) return false;
    ops.Begin(kOpSlotRead, int(size), -1, [this, size, onRead = std::move(onRead)](int) {
        if (onRead) onRead(m_ctx.buffer, size);
        return false;
    });
    m_ctx.engine->StartCommand(int(size), kCmdRead, address, m_ctx.buffer);
    return true;
}
