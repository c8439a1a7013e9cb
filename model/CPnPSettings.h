#pragma once
#include "model/CPnPBlock.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How a settings node is edited.
enum PnPControlKind : int32_t {
    kPnPCtlNone = 0,       // heading
    kPnPCtlAddressed = 1,  // addressed, not editable yet
    kPnPCtlCheckBox = 2,
    kPnPCtlSlider = 3,
    kPnPCtlList = 4,
    kPnPCtlFlags = 5,
    kPnPCtlTyped = 6,
};

// Value types of the "type" attribute.
enum PnPNodeType : int32_t {
    kPnPTypeNumeric = 0,
    kPnPTypeIpOut = 1,
    kPnPTypeColor = 2,
    kPnPTypeDec = 3,
    kPnPTypeHex = 4,
    kPnPTypeAscii = 5,
    kPnPTypeAsciiz = 6,
    kPnPTypeIpAddr = 7,
};
const char* PnPNodeTypeName(int32_t type);

constexpr uint32_t kPnPNoAddress = 0xFFFFFFFFu;
constexpr size_t kPnPMaxNodeBytes = 256;
constexpr size_t kPnPMaxFlagItems = 8;

class CPnPSettingsNodeListItem {
public:
    CPnPSettingsNodeListItem() = default;
    CPnPSettingsNodeListItem(const TiXmlElement* e, const PnPReadContext& ctx);
    virtual ~CPnPSettingsNodeListItem() = default;
    int32_t value = 0;
    std::string name;
};

class CPnPSettingsNodeFlagItem {
public:
    CPnPSettingsNodeFlagItem() = default;
    CPnPSettingsNodeFlagItem(const TiXmlElement* e, const PnPReadContext& ctx);
    virtual ~CPnPSettingsNodeFlagItem() = default;
    uint8_t mask = 0;
    uint8_t value = 0;
    std::string name;
    bool exclusive = false;  // shares a mask bit with another item: shown as a radio button
};

// The stream output descriptor of an "ipout" node, as the page edits it.
struct PnPStreamOutput {
    bool running = false;
    uint8_t ip[4] = {0, 0, 0, 0};  // network order
    uint16_t port = 0;              // 0 = not set
    uint16_t mode = 0;              // value of one of the node's list items
    uint8_t protocol = 0;           // 0 RTP+, 1 RTP, 2 UDP
    bool noStuffing = false;
    uint8_t tos = 0;                // 0 = not set
};

class CPnPSettingsNode {
public:
    using Bytes = std::array<uint8_t, kPnPMaxNodeBytes>;

    CPnPSettingsNode() = default;
    // runningAddress is the address a "+" node takes.
    CPnPSettingsNode(const TiXmlElement* e, int32_t depth, uint32_t runningAddress, const PnPReadContext& ctx);
    CPnPSettingsNode(const CPnPSettingsNode&) = default;  // deep: list and flag items are values
    CPnPSettingsNode& operator=(const CPnPSettingsNode&) = default;
    virtual ~CPnPSettingsNode() = default;

    int32_t controlKind = kPnPCtlNone;
    int32_t depth = 0;
    bool collapse = false;
    uint32_t address = kPnPNoAddress;
    std::string name;
    std::string info;
    int32_t infoIcon = 0;
    bool enabled = true;
    int32_t min = 0;
    int32_t max = 0;
    int32_t step = 0;
    int32_t def = 0;
    int32_t value = 0;
    int32_t type = kPnPTypeNumeric;
    Bytes valueBytes{};
    Bytes defaultBytes{};
    int32_t size = 1;
    bool scaled = false;
    double a = 1.0;
    double b = 0.0;
    int32_t decimals = 0;
    double deadZoneMin = -9999999.0;
    double deadZoneMax = 9999999.0;
    int32_t saturation = 100;
    std::vector<CPnPSettingsNodeListItem> listItems;
    std::vector<CPnPSettingsNodeFlagItem> flagItems;
    int32_t blockIndex = -1;

    bool HasAddress() const { return address != kPnPNoAddress; }
    // The control kind the node gets once it qualifies (typed, list, flags, check box, slider).
    int32_t QualifiedControlKind() const;

    // Register settings: the device's limit bytes min, max, default, step.
    void ApplyRegisterLimits(const uint8_t limits[4]);

    // Block settings. The node lies at its address inside the image; out-of-range nodes are
    // left alone (they never get a control, but the image may be short after a bad read).
    bool FitsIn(size_t imageSize) const;
    void Decode(const std::vector<uint8_t>& image);
    void Encode(std::vector<uint8_t>& image, int32_t newValue, const uint8_t* newBytes);

    // Value read outside [min, max] while the limits differ: the page resets it to default.
    bool NeedsReset() const;
    void ResetToDefault();
    // A new value is written only when it differs in value or, equal, in the first size bytes.
    bool IsChanged(int32_t newValue, const uint8_t* newBytes) const;

    // Display text of a numeric value (scaling, dead zone, decimals, rounding halves away).
    std::string DisplayText(int32_t v) const;

    // Value operations of the page; each returns the new value.
    int32_t SetFlagItem(size_t i) const;
    int32_t SetExclusiveFlagItem(size_t i) const;
    bool FlagItemChecked(size_t i) const;
    int32_t SliderRange() const;  // slider runs 0 .. |max - min|
    int32_t SliderToValue(int32_t position) const;
    int32_t ValueToSlider(int32_t v) const;
    int32_t StepDown() const;
    int32_t StepUp() const;

    // Typed editors: each fills `out` (size bytes meaningful, the rest zero).
    void ParseDec(const std::string& text, Bytes& out) const;
    void ParseHex(const std::string& text, Bytes& out) const;
    void ParseText(const std::string& text, Bytes& out) const;  // ascii / asciiz
    // Four fields in network order; an empty field gives 0.0.0.0.
    void ParseIpAddr(const std::string fields[4], Bytes& out) const;
    // "" for 0.0.0.0, else a.b.c.d.
    static std::string IpAddrText(const uint8_t* bytes);
    // The converted colour 0x00CrCbYY as the bytes Y, Cb, Cr.
    static void ColourBytes(uint32_t deviceColour, Bytes& out);
    // Typed "color": the operator picked chosenRgb (0x00BBGGRR) while currentRgb is shown.
    // toDevice is the picture code's colour conversion (BT.709, 8 bits). False, and nothing
    // to write, when the pick converts to what the shown colour converts to at saturation 100;
    // else out holds the pick converted at the node's saturation (10..100, else 100).
    using ColourToDeviceFn = uint32_t (*)(uint32_t colour, int saturation);
    bool ChooseColour(uint32_t chosenRgb, uint32_t currentRgb, ColourToDeviceFn toDevice, Bytes& out) const;
    // First 4 value bytes, little-endian (typed "dec" and "hex").
    uint32_t TypedNumber(const Bytes& bytes) const;

    // "ipout" descriptor.
    static PnPStreamOutput DecodeStreamOutput(const uint8_t* bytes);
    // Start: the current bytes with the page's fields and state 0x11; stop: state 0x10.
    static void BuildStreamStart(const Bytes& current, const PnPStreamOutput& fields, Bytes& out);
    static void BuildStreamStop(const Bytes& current, Bytes& out);
};

// Seals a record: its last two bytes get the CRC-16 of everything before them, low byte first.
void PnPSealBlock(std::vector<uint8_t>& image);
// Whether a record's stored CRC matches.
bool PnPBlockSealOk(const std::vector<uint8_t>& image);

class CPnPSettings : public CPnPBlock {
public:
    CPnPSettings(const TiXmlElement* e, int32_t kind, const PnPReadContext& ctx);
    ~CPnPSettings() override;

    std::vector<std::unique_ptr<CPnPSettingsNode>> nodes;
    int32_t currentNode = -1;

    // Register settings (kind 7): where a node's value byte and its four limit bytes are.
    uint32_t RegisterAddress(const CPnPSettingsNode& node) const { return address + node.address; }
    // Reset to default writes the default byte of every addressed and enabled node.
    std::vector<std::pair<uint32_t, uint8_t>> RegisterDefaults() const;

protected:
    // Reads the `node` children of e in pre-order; the running address starts at 0.
    void ReadNodes(const TiXmlElement* e, int32_t depth, uint32_t& running, const PnPReadContext& ctx);
};
