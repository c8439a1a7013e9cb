#pragma once
#include <string>
#include <vector>

// Built-in texts by number. A translation lookup (interface languages) is consulted first
// once one is installed; every text falls back to the English built-in one.
const char* BuiltinString(int id);

// Lookup hook for the interface language: returns true and the text when translated.
using TranslationLookup = bool (*)(int id, std::string& text);
void SetTranslationLookup(TranslationLookup lookup);

// The text of id in the interface language ("" when unknown).
std::string LoadString(int id);
// Inserts args at %1, %2 ... (a "%%" stays as it is for printf-style texts).
std::string FormatText(const std::string& text, const std::vector<std::string>& args);
inline std::string FormatMessage(int id, const std::vector<std::string>& args = {}) {
    return FormatText(LoadString(id), args);
}

// Message numbers used across the program.
enum : int {
    kStrDevice = 20001,
    kStrEnglish = 20050,
    kStrLinkError = 21108,   // + result code 1..8
    kStrBlockPrompt = 21116, // + error kind 1..3
    kStrFileError = 21200,   // + loader result
    kStrImageError = 21300,  // + image loader result
};
