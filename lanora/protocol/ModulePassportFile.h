#pragma once
#include "lanora/protocol/ModuleProtocol.h"

#include <ctime>

// The passport text file: a header line, the 480-byte passport block as 15 lines of 32 hex
// bytes, an end line and the history pages.
constexpr size_t kPassportBlockSize = 480;

std::array<uint8_t, kPassportBlockSize> PassportBlock(const std::array<uint8_t, kPassportSize>& passport,
                                                      uint32_t deviceIp);
std::string PassportFileText(const std::array<uint8_t, kPassportSize>& passport, uint32_t deviceIp,
                             const std::vector<RHistoryPage>& pages);
// "passport_<MAC>_<YYYYMMDDhhmmss>" without extension, from the reply's MAC and the local time.
std::string PassportDefaultName(const std::array<uint8_t, kPassportSize>& passport, const std::tm& local);
// False when the file cannot be created or written.
bool WriteTextFile(const std::string& path, const std::string& text);
