#pragma once
#include <cstdint>
#include <ctime>
#include <string>

class CPnPSettings;
class CPnPSettingsNode;

// The text of "Print current settings": one entry per enabled node in list order, from the
// values the nodes hold now (the caller reads or decodes them first). Lines end in "\n".
std::string SettingsReportText(const CPnPSettings& element);
// One node's entry (its indentation included).
std::string SettingsReportEntry(const CPnPSettingsNode& node);

// "varo_%04d%02d%02d_%02d%02d%02d.txt" from a local time.
std::string SettingsReportFileName(const std::tm& local);

// Writes text into folder/name with CR LF line ends. Returns the full path, whether or not the
// file could be created (the caller still tries to open it, as the page does).
std::string WriteSettingsReport(const std::string& folder, const std::string& name, const std::string& text,
                                bool* written = nullptr);

// The colour bytes Y, Cb, Cr of a "color" node as 0x00BBGGRR (BT.709, 8-bit studio range),
// for the colour button.
uint32_t DeviceColourToRgb(uint8_t y, uint8_t cb, uint8_t cr);
