#pragma once
#include <cstdint>
#include <functional>
#include <string>

class TiXmlElement;

// What the element constructors need besides the XML: the interface language that picks the
// localised texts, the folder that relative file names hang off, and the string table.
struct PnPReadContext {
    std::string language = "English";
    std::string programFolder;  // empty: ProgramFolder()
    // Built-in texts by number (file-type descriptions and the like); empty: English.
    std::function<std::string(int)> text;

    std::string Text(int id) const;
    const std::string& Folder() const;
    // "_" + the language in lower case, kept until the language changes.
    const std::string& LanguageSuffix() const;

private:
    mutable std::string m_suffixOf, m_suffix;
};

// The two number rules of model files.
uint32_t PnPParseUnsigned(const char* text);
int32_t PnPParseSigned(const char* text);
// Decimal floating point; anything that is not a number reads as 0.
double PnPParseDouble(const char* text);

// Attribute helpers: a missing attribute reads as the given default text.
uint32_t PnPAttrUnsigned(const TiXmlElement* e, const char* name, const char* def = "0");
int32_t PnPAttrSigned(const TiXmlElement* e, const char* name, const char* def = "0");
double PnPAttrDouble(const TiXmlElement* e, const char* name, const char* def);
bool PnPAttrBool(const TiXmlElement* e, const char* name, const char* def = "0");
std::string PnPAttrText(const TiXmlElement* e, const char* name);

// name_<language> when present and not empty, else the plain attribute, else "".
std::string PnPLocalised(const TiXmlElement* e, const char* base, const PnPReadContext& ctx);
// The same for "info" texts: every '^' becomes a line break.
std::string PnPLocalisedInfo(const TiXmlElement* e, const char* base, const PnPReadContext& ctx);

// The "filename" rule: trimmed, relative names hang off the program folder (backslashes are
// separators, a case-insensitive match is used when the exact name is missing), names with a
// drive letter or a leading '/' stay as they are.
std::string PnPFileName(const std::string& attr, const PnPReadContext& ctx);

// CRC-16/MODBUS, the seal of records written whole.
uint16_t PnPCrc16(const uint8_t* data, size_t size);

// Replaces every occurrence of `what` in s.
std::string PnPReplaceAll(std::string s, const std::string& what, const std::string& with);
