#pragma once

// The diagnostic trace: off unless `Debug` `Log` is set in the store (read once, at the first
// call). Each call appends one time-stamped line to "<program>.log" in the program folder.
// Safe from any thread; a line is written with a single append, so lines never interleave.
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether the log is on (reads the key on the first call, like DebugLog).
bool DebugLogEnabled();

// Tests only: forget the first-call state so the next call reads the store again.
void DebugLogReset();
