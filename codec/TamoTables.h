#pragma once
#include <cstdint>

// Code tables, scan order and weights of the picture stream, plus the lookup tables the
// decoder peeks with. Built once per process on first use.
namespace tamo {

constexpr int kTypeHD = 1;
constexpr int kType4K = 2;

struct Geometry {
    int type;
    int width;         // luma samples per line
    int height;        // display lines
    int codedHeight;   // luma lines in the planes (rows * 16)
    int rows;          // macroblock rows
    int columns;       // macroblocks per row
};
// nullptr for an unknown type code.
const Geometry* GeometryOf(int type);

// Natural index (u + 8v) of each scan position.
extern const uint8_t kScanToNatural[64];
extern const uint8_t kWeightLuma[64];
extern const uint8_t kWeightChroma[64];

struct Code {
    uint32_t bits;
    uint8_t len;
};

// AC symbols: index = flags * 64 + (level - 1), flags bit 0 = run follows, bit 1 = extension
// follows; index 256 is end-of-block.
constexpr int kAcRunFlag = 1;
constexpr int kAcExtFlag = 2;
constexpr int kAcEob = 256;

// Decoder entries. For AC: len 0 in the 8-bit table means "look the 16-bit table up".
struct AcEntry {
    uint8_t len;
    uint8_t level;  // 1 ... 64, 0 for end-of-block
    uint8_t flags;  // kAcRunFlag | kAcExtFlag
    uint8_t eob;
};
struct SmallEntry {
    uint8_t len;    // 0: look the longer table up
    uint8_t value;  // DC category or run
};

// AC symbol with its sign slot and extension bits for a level magnitude 1 ... 1024 (the sign
// bit goes in at signShift); the run code, when there is a run, follows.
struct LevelCode {
    uint32_t bits;
    uint8_t len;
    uint8_t signShift;
};

struct CodeTables {
    Code dc[12];
    Code ac[257];
    Code run[63];  // index = run 1 ... 62; run 0 is the empty code
    SmallEntry dc6[64];
    AcEntry ac8[256];
    AcEntry ac16[65536];
    SmallEntry run7[128];
    SmallEntry run10[1024];
    LevelCode level[2][1025];  // [run follows][magnitude]
    // For the encoder's inner loop: by [run follows][level + 1024] the AC symbol with its sign
    // and extension bits, as (bits << 5) | length; by run the run code as (bits << 4) | length
    // (run 0: nothing).
    uint32_t acSigned[2][2049];
    uint16_t runPacked[63];
    // Their lengths alone, for counting.
    uint8_t acSignedLen[2][2049];
    uint8_t runLen[63];
    // The common case in one lookup: by [run][level + kSmallLevel] (-kSmallLevel <= level <
    // kSmallLevel) the AC code and the run code together, as (bits << 5) | length (at most 27
    // bits).
    static constexpr int kSmallLevel = 32;
    uint32_t runLevel[63][2 * kSmallLevel];
};
const CodeTables& Tables();

}  // namespace tamo
