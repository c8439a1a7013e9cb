#pragma once
#include <string>

// The folder of the running program file (with a trailing '/'): model folders, language and
// data files, the INI store and the debug log live there.
const std::string& ProgramFolder();
// The program file's name without its extension, e.g. "VaroConfig".
const std::string& ProgramFileStem();
// Tests point these elsewhere before anything reads them.
void SetProgramFolder(const std::string& folder);
void SetProgramFileStem(const std::string& stem);

// Looks a file up in a folder: the exact name first, then a case-insensitive match of each
// path component. Backslashes count as separators; absolute paths are used unchanged.
std::string ResolveDataPath(const std::string& folder, const std::string& name);
