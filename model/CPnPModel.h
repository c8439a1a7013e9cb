#pragma once
#include "model/CPnPBlock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Loader results.
enum PnPLoadResult : int {
    kPnPLoaded = 0,
    kPnPCannotOpen = 1,  // missing, unreadable or not well-formed XML
    kPnPNoModel = 2,     // parsed, but no root element or no "pnp" child in it
};

// Deepest element nesting a model document may have (the root counts as 1); a deeper one is
// refused as corrupt before the recursive parser and element readers see it.
constexpr int kPnPMaxNesting = 512;

// The loaded device model: its elements, the pages shown to the operator and their groups.
class CPnPModel {
public:
    CPnPModel() = default;
    ~CPnPModel();
    CPnPModel(const CPnPModel&) = delete;
    CPnPModel& operator=(const CPnPModel&) = delete;

    // Clears the model, then fills it from the file. Returns a PnPLoadResult.
    int Load(const std::string& path);
    // The same from a document held in memory (tests, fuzzing).
    int LoadFromText(const std::string& xml);
    void Clear();

    // First element of the kind in document order, or nullptr.
    CPnPBlock* FindFirst(int32_t kind) const;
    // Tab title of a page: its name, or "group - name" when its group holds several pages.
    std::string PageTitle(const CPnPBlock* element) const;

    // Texts are read in this language (name_<language>); default "English".
    void SetLanguage(const std::string& language) { m_ctx.language = language; }
    // Relative file names hang off this folder; empty: the program folder.
    void SetProgramFolder(const std::string& folder) { m_ctx.programFolder = folder; }
    PnPReadContext& Context() { return m_ctx; }

    std::vector<std::unique_ptr<CPnPBlock>> elements;
    std::vector<CPnPBlock*> pages;
    std::vector<std::string> groupNames;
    std::vector<uint32_t> groupSizes;
    bool timeSync = false;

private:
    int LoadDocument(class TiXmlDocument& doc);
    void BuildPages();

    PnPReadContext m_ctx;
};

// Constructs the element of a kind from its XML element (nullptr for an unknown kind).
std::unique_ptr<CPnPBlock> PnPCreateElement(const class TiXmlElement* e, int kind, const PnPReadContext& ctx);
