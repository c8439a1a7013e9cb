#pragma once
#include "devicedata/DeviceContext.h"
#include "model/CPnPSettings.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CPnPBlockSettings;

// One item of the page's settings tree. Items are in pre-order; children are item indices.
struct RSettingsTreeItem {
    int node = -1;    // index into the element's nodes
    int parent = -1;  // item index, -1 at the top level
    std::vector<int> children;
    bool expanded = false;
};

// Which controls of the "Setting" frame the current node shows, and how.
struct RSettingsControls {
    bool caption = false;
    std::string captionText;
    bool checkBox = false;
    bool slider = false;     // with its "<" and ">" buttons
    bool valueText = false;  // the display value beside the slider
    bool list = false;
    bool listEnabled = false;
    int flagCount = 0;
    bool flagRadio[kPnPMaxFlagItems] = {};  // flag item i: radio button i, else check box i
    bool ipAddress = false;                 // "IP" with its label ("ipout" and "ipaddr")
    bool ipout = false;                     // "Mode", "Port", "ToS (HEX)", "Protocol", "No stuffings", "Start", "Stop"
    bool colour = false;
    bool text = false;
    bool textEnabled = false;
    bool set = false;
    bool setEnabled = false;
    bool info = false;
    std::string infoText;
    int infoIcon = 0;  // 0 none, 1 information, 2 warning
    bool reset = false;
    bool print = false;
};

extern const char* const kTextResetAllQuestion;   // "Reset all settings to default?"
extern const char* const kTextValueNotInitialized;  // "Value not initialized and will be reset to default!"

// The settings page without its window: opening (limits or blocks read), the tree, selection
// reads, writes of one register byte or one sealed block, resets, the slider follow-up and the
// settings report. It works only through the operation protocol of ctx; the view (Qt page,
// varoctl, tests) listens through the callbacks below and turns clicks into the calls.
class CSettingsPage {
public:
    // Callbacks to the view; each may be left empty.
    std::function<void()> onTreeChanged;  // the tree was cleared or built
    std::function<void()> onShowValue;    // show Controls() and the current node's value
    // Where the operator holds the slider now (the follow-up after a write); none: no slider.
    std::function<std::optional<int32_t>()> sliderPosition;
    // The report file is ready: open it with its default program.
    std::function<void(const std::string& path)> onOpenReport;

    // Where the report goes (default: the temporary folder) and the clock it is named by.
    std::string reportFolder;
    std::function<std::time_t()> now;
    // varoctl: the report only as LastReportText(), no file.
    bool reportToFile = true;
    // A value read outside its limits is reset to its default (the page); off, it is only
    // told (varoctl "get" must not write).
    bool resetInvalid = true;

    CSettingsPage(RDeviceContext& ctx, CPnPSettings* element);
    ~CSettingsPage();
    CSettingsPage(const CSettingsPage&) = delete;
    CSettingsPage& operator=(const CSettingsPage&) = delete;

    CPnPSettings* Element() const { return m_el; }
    bool BlockSettings() const { return m_el->kind != kPnPSettings; }

    // Reads the limits (register settings) or the blocks, then builds the tree.
    void Open();
    bool TreeReady() const { return m_ready; }
    const std::vector<RSettingsTreeItem>& Tree() const { return m_tree; }

    // The operator selected a node (by node index). False when refused (busy, tree not ready).
    bool Select(int nodeIndex);
    // The same for a caller without the page's root rule (varoctl): a node with a control is
    // read even when it is the first node.
    bool ReadNode(int nodeIndex);
    int CurrentIndex() const { return m_el->currentNode; }
    CPnPSettingsNode* Current() const;
    RSettingsControls Controls() const;

    // "Setting a value" for the current node: the Ethernet check, nothing for an unchanged
    // value, else one register byte or the sealed block written. bytes: typed nodes only.
    void SetValue(int32_t value, const uint8_t* bytes = nullptr);
    // The controls' value operations.
    void SetChecked(bool on);
    void ChooseListItem(int index);
    void ClickFlag(int index);  // check box or radio button, by the item's kind
    void MoveSlider(int32_t position);
    void StepDown();
    void StepUp();
    void SetTyped(const std::string& text);      // "Set" of "dec", "hex", "ascii", "asciiz"
    void SetIpAddr(const std::string fields[4]);  // "Set" of "ipaddr"
    void ChooseColour(uint32_t rgb);              // the colour chooser closed with 0x00BBGGRR
    // "Start": false (nothing done) without a full address or with a port outside 1..65535.
    // modeIndex / protocolIndex: -1 when no entry is chosen.
    bool StartStream(const std::string ip[4], const std::string& port, int modeIndex, int protocolIndex,
                     bool noStuffing, const std::string& tos);
    void StopStream();

    // "Reset to default" for the current node, or every setting after the question.
    void ResetToDefault();
    // Without asking: every default of the element (register settings) or of the block that
    // holds node nodeIndex (block settings) written; the node becomes the current one.
    void ResetAll(int nodeIndex);
    // "Print current settings".
    void PrintReport();
    const std::string& LastReportPath() const { return m_reportPath; }
    const std::string& LastReportText() const { return m_reportText; }

    // What the controls show for a typed node ("dec", "hex", "ascii", "asciiz", "ipaddr").
    static std::string TypedText(const CPnPSettingsNode& node);
    // The list entry matching the value, -1 for none.
    static int ChosenListItem(const CPnPSettingsNode& node);
    // The block holding a node (block settings), nullptr otherwise.
    CPnPBlockSettings* BlockOf(const CPnPSettingsNode& node) const;

private:
    struct Undo {
        std::vector<std::pair<CPnPSettingsNode*, CPnPSettingsNode>> nodes;
        CPnPBlockSettings* block = nullptr;
        std::vector<uint8_t> image;
    };

    bool SelectNode(int index, bool rootRule);
    bool Idle() const { return !m_ctx.ops->Busy(); }
    bool EthernetDown();
    void Show() { if (onShowValue) onShowValue(); }
    void BuildTree();
    void ReadBlockInto(CPnPBlockSettings* block);
    // One operation over m_queue (from m_queuePos 0): start issues an item's command, answered
    // takes its reply and moves the bar by stepPerItem, last runs after the final reply.
    void WalkQueue(int kind, int total, int stepPerItem, std::function<void(int)> start,
                   std::function<void(int)> answered, std::function<void()> last);
    void AfterRead(CPnPSettingsNode& node);
    void FollowSlider();
    void ResetAllNow();
    void FinishReport();
    void Remember(CPnPSettingsNode& node);
    void RestoreUndo();
    void WriteBlock(CPnPBlockSettings* block, int kind, COperations::Step done);

    RDeviceContext& m_ctx;
    CPnPSettings* m_el;
    bool m_ready = false;
    std::vector<RSettingsTreeItem> m_tree;
    std::vector<int> m_queue;  // nodes or blocks still to go in a multi-step operation
    size_t m_queuePos = 0;
    Undo m_undo;
    std::string m_reportPath, m_reportText;
};
