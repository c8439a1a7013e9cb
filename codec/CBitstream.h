#pragma once
#include <cstdint>
#include <cstring>

// The hot paths are inlined everywhere, also into the code built for wider vector units, so no
// out-of-line copy compiled with other instructions can be picked by the linker.
#define TAMO_INLINE inline __attribute__((always_inline))

// Bit writer and reader over a byte buffer, most significant bit first.
//
// Writing: a byte is only stored while the bytes stored stay below the capacity; the byte that
// would make the count reach the capacity sets the overflow flag instead, and from then on the
// writer ignores everything. So at most capacity - 1 bytes are ever stored.
// Reading: peeking past the capacity yields zero bits and sets the overflow flag; nothing
// outside the given bytes is ever touched.
class CBitstream {
public:
    CBitstream() = default;
    // A writer with a buffer of its own.
    explicit CBitstream(int capacity);
    virtual ~CBitstream();
    CBitstream(const CBitstream&) = delete;
    CBitstream& operator=(const CBitstream&) = delete;

    TAMO_INLINE void StartWrite(uint8_t* buffer, int capacity) {
        m_start = buffer;
        m_pos = 0;
        m_acc = 0;
        m_waiting = 0;
        m_totalBits = 0;
        m_capacity = capacity;
        m_overflow = false;
    }

    // Appends the low n bits of `bits` (n <= 32, higher bits of `bits` zero).
    TAMO_INLINE void Put(uint32_t bits, int n) {
        if (m_overflow) return;
        m_totalBits += n;
        m_acc = (m_acc << n) | bits;
        m_waiting += n;
        if (m_waiting >= 32) StoreWord();
    }
    // For tight loops: the writer's state in locals, put back with SaveCursor. Between the two
    // the writer itself must not be used. The cursor keeps up to 64 bits at the top of its
    // accumulator and stores them eight bytes at a time; SaveCursor stores whole words until
    // fewer than 32 bits wait, so the writer is then exactly as after the same plain Puts.
    struct Cursor {
        uint64_t acc;   // bits from the top
        int free;       // 64 - bits in acc
        int pos;
        int fastLimit;  // eight bytes may be stored at once while pos < fastLimit
        uint8_t* buffer;
    };
    TAMO_INLINE Cursor LoadCursor() const {
        return Cursor{m_waiting ? m_acc << (64 - m_waiting) : 0, 64 - m_waiting, m_pos,
                      m_overflow ? -1 : m_capacity - 8, m_start};
    }
    // Until the writer overflows, the bits written are the bytes stored and the bits waiting.
    TAMO_INLINE void SaveCursor(const Cursor& c) {
        int waiting = 64 - c.free;
        uint64_t acc = c.acc;
        m_pos = c.pos;
        while (waiting >= 32) {
            StoreWordSlow(uint32_t(acc >> 32), m_pos);
            acc <<= 32;
            waiting -= 32;
        }
        if (m_overflow) return;
        m_acc = waiting ? acc >> (64 - waiting) : 0;
        m_waiting = waiting;
        m_totalBits = int64_t(m_pos) * 8 + waiting;
    }
    // Appends like Put (1 <= n <= 31), on the cursor.
    TAMO_INLINE void Put(Cursor& c, uint32_t bits, int n) {
        c.free -= n;
        if (c.free >= 0) [[likely]] {
            c.acc |= uint64_t(bits) << c.free;
            return;
        }
        // The accumulator is full: store it, keep the bits that did not fit.
        const int over = -c.free;
        const uint64_t full = c.acc | (uint64_t(bits) >> over);
        if (c.pos < c.fastLimit) [[likely]] {
            const uint64_t be = __builtin_bswap64(full);
            std::memcpy(c.buffer + c.pos, &be, 8);
            c.pos += 8;
        } else {
            c.pos = StoreWordSlow(uint32_t(full >> 32), c.pos);
            c.pos = StoreWordSlow(uint32_t(full), c.pos);
            if (m_overflow) c.fastLimit = -1;
        }
        c.acc = uint64_t(bits) << (64 - over);
        c.free = 64 - over;
    }

    // Zero bits to a byte boundary, then zero bytes up to a multiple of 32 bits in all.
    void Flush();

    bool Overflow() const { return m_overflow; }
    int64_t TotalBits() const { return m_totalBits; }
    int BytesStored() const { return m_pos; }
    uint8_t* Buffer() const { return m_start; }

    // Reading.
    TAMO_INLINE void StartRead(const uint8_t* buffer, int capacity) {
        m_in = buffer;
        m_pos = 0;
        m_capacity = capacity > 0 ? capacity : 0;
        m_racc = 0;
        m_rbits = 0;
        m_overflow = false;
    }
    // Next n bits (1 <= n <= 32) without consuming them.
    TAMO_INLINE uint32_t Peek(int n) {
        if (m_rbits < n) Refill();
        return uint32_t(m_racc >> (64 - n));
    }
    TAMO_INLINE void Skip(int n) {
        m_racc <<= n;
        m_rbits -= n;
    }
    TAMO_INLINE uint32_t Get(int n) {
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    int BytesConsumed() const { return m_pos; }

private:
    void StoreWord();
    int StoreWordSlow(uint32_t w, int pos);
    void StoreByte(uint8_t b);
    TAMO_INLINE void Refill() {
        if (m_pos + 8 <= m_capacity) {
            uint64_t w;
            std::memcpy(&w, m_in + m_pos, 8);
            w = __builtin_bswap64(w);
            m_racc |= w >> m_rbits;
            m_pos += (63 - m_rbits) >> 3;
            m_rbits |= 56;
            return;
        }
        while (m_rbits <= 56) {
            uint64_t b = 0;
            if (m_pos < m_capacity)
                b = m_in[m_pos++];
            else
                m_overflow = true;
            m_racc |= b << (56 - m_rbits);
            m_rbits += 8;
        }
    }

    uint8_t* m_start = nullptr;
    const uint8_t* m_in = nullptr;
    int m_pos = 0;            // bytes stored / consumed
    uint64_t m_acc = 0;       // writer: waiting bits at the bottom
    int m_waiting = 0;
    int64_t m_totalBits = 0;
    int m_capacity = 0;
    bool m_owns = false;
    bool m_overflow = false;
    uint64_t m_racc = 0;      // reader: next bits at the top
    int m_rbits = 0;
};
