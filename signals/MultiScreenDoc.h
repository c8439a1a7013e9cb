#pragma once
// What is done to the multiscreen document: building it from the model element, the label
// preferences, ".mss" files, the overlap check, and turning it into the three kinds of device
// data (per-display backgrounds, the cover, the multiscreen settings block).
#include "model/CPnPMultiScreen.h"
#include "signals/CMultiScreen.h"

#include <cstdint>
#include <string>
#include <vector>

class CConfigStore;

constexpr uint32_t kMscMagic = 0x1A43534D;  // "MSC" 0x1A
constexpr int kMscHeaderBytes = 256;
constexpr int kMscRecordBytes = 256;
constexpr int kMscBackgroundHeaderBytes = 256;

// Rebuilds doc from the model. fromFile: every model element starts invisible (a file then
// says which are visible). A model element with an error gives an empty document.
void MultiScreenBuild(CMultiScreen& doc, const CPnPMultiScreen& m, bool fromFile);

// Preference keys of label e of model m in "PnP_Preferences".
std::string MsFontKey(const std::string& model, int32_t id);
std::string MsColourKey(const std::string& model, int32_t id);
std::string MsTextKey(const std::string& model, int32_t id);
// Every visible label of a layer that is not a background layer takes its text from the
// preferences when a key exists, and its font and colour too when fontAndColour.
void MultiScreenApplyPreferences(CMultiScreen& doc, const CConfigStore& store, const std::string& model,
                                 bool fontAndColour);
// Stores a label's font record, colour and text.
void MultiScreenStoreLabel(const CScreenElement& label, CConfigStore& store, const std::string& model);

// ".mss" files. Load rebuilds the document (from file) first: 0 done, 1 cannot open, 2 not a
// multiscreen file, made for another display size, or cut short (the rebuilt document, every
// element invisible, is left). Save: 0 or 3.
int MultiScreenLoad(CMultiScreen& doc, const CPnPMultiScreen& m, const std::string& path);
int MultiScreenSave(const CMultiScreen& doc, const CPnPMultiScreen& m, const std::string& path);

// The first pair of visible elements of one layer that may not overlap and do.
struct RMsOverlap {
    int display = -1, layer = -1, first = -1, second = -1;
};
bool MultiScreenOverlap(const CMultiScreen& doc, RMsOverlap& found);

// A label's picture with its text drawn (kept in its rendered picture).
void MultiScreenRenderLabel(CScreenElement& label);

// Display d's background at W x H before it is halved: background layers, window holes inset
// by the tolerances. False when d is not a real display.
bool MultiScreenBackgroundPicture(CMultiScreen& doc, const CPnPMultiScreen& m, int d, CPicture& out);
// The same halved and converted into the display's item size. False with err set on failure.
bool MultiScreenBackgroundBytes(CMultiScreen& doc, const CPnPMultiScreen& m, int d, CPicture& halved,
                                std::vector<uint8_t>& out, std::string& err);
// The cover: W x (H x displays), labels, meters and the meters of objects.
void MultiScreenCoverPicture(CMultiScreen& doc, const CPnPMultiScreen& m, CPicture& out);
bool MultiScreenCoverBytes(const CPicture& cover, const CPnPMultiScreen& m, std::vector<uint8_t>& out,
                           std::string& err);

// The multiscreen settings block ("size" bytes).
std::vector<uint8_t> MultiScreenEncodeSettings(const CMultiScreen& doc, const CPnPMultiScreen& m);
// Bit i of value goes to block bit (byte offset x 8 + bit offset + i), least significant first.
// Bits past the block are dropped.
void MsStoreField(uint8_t* block, size_t size, RMsField field, uint32_t value);

// The page's view: display 0 with its background layers and the first layer after them,
// halved until at most 512 pixels wide.
CPicture MultiScreenPreview(CMultiScreen& doc, const CPnPMultiScreen& m);
// Every display's background with its part of the cover over it, stacked, holes as a grey
// stand-in for the video: what the device will show.
CPicture MultiScreenComposed(CMultiScreen& doc, const CPnPMultiScreen& m);

// Nearest-neighbour scaled drawing of src into (x, y, w, h) of dst, laid over by transparency
// (a fully transparent destination takes the source as it is).
void MsDrawOver(CPicture& dst, const CPicture& src, int x, int y, int w, int h);
