#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "signals/CDataArray.h"

class CByteSource;

// The three components of one line (Y, Dr, Db) as the editor, the signal files and the windows
// of a test table hold them. Copies are deep.
struct SignalSet {
    CDataArray comp[kComponents];

    CDataArray& operator[](int i) { return comp[i]; }
    const CDataArray& operator[](int i) const { return comp[i]; }
    // Same span count and lengths in all three, every span at least one sample, 702 in all.
    bool IsConsistent() const;
};

// The single-precision values of 2*pi and pi that evaluation uses.
constexpr double kEvalTwoPi = 6.2831854820251465;
constexpr double kEvalPi = 3.1415927410125732;

// Evaluates component `component` of `array` with the oversampling factor z (1..40, clamped):
// returns 702 * z curve values and stores the clamped value of every whole sample into the spans.
std::vector<double> EvaluateComponent(CDataArray& array, int component, int z);
// Evaluates all three components with z = 1.
void EvaluateSignalSet(SignalSet& set);

// Span structure operations of the editor. `current` is the current span, `shown` the component
// whose spans decide refusals. Each returns false (and changes nothing) when refused.
// cursor: sample index of the line, or -1 for none.
bool SplitSpan(SignalSet& set, int current, int cursor, int shown = 0);
bool CombineWithPrevious(SignalSet& set, int& current);
bool CombineWithNext(SignalSet& set, int current);
bool ChangeSpanLength(SignalSet& set, int current, bool longer, int shown = 0);
bool MoveSpanStart(SignalSet& set, int current, bool later, int shown = 0);

// Signal files (".sig"). Result codes of our own files.
enum FileResult { kFileOk = 0, kFileCannotOpen = 1, kFileCorrupt = 2, kFileCannotCreate = 3 };
constexpr uint32_t kSigMagic = 0x1A474953;  // "SIG" 0x1A
constexpr int kFileHeaderSize = 256;

int LoadSignalFile(const std::string& path, SignalSet& set);
int SaveSignalFile(const std::string& path, const SignalSet& set);
// The loader's body over any byte source (used by the file loader and the fuzz target):
// 0 and `set` replaced, or 2 and `set` untouched.
int ReadSignalFile(CByteSource& in, SignalSet& set);
