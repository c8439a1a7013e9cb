#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/CSimDevice.h"

// What a simulated device's memory must hold to look like the device a model file describes.
// Built from the model alone plus the hint attributes beginning "sim_" that the configuration
// program ignores:
//   settings nodes   sim_value, sim_min, sim_max, sim_default, sim_step (register limits;
//                    each falls back to the node's own attribute)
//   typed nodes      sim_value as the node's "default" would be written
//   controls, status sim_value on the element: the record as hex bytes; sim_value="1" on a
//                    control or info node: its bits are set (switch on, message raised)
//   serial           sim_value: the serial number as hex bytes
//   pnp              sim_signature (the signature of a model outside ModelsPnP/),
//                    sim_identity (hex bytes of the identity record)
struct SimWrite {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

struct SimModelImage {
    int result = 0;          // the loader's result code
    std::string signature;   // empty: a device without signature
    std::vector<uint8_t> identity;
    std::vector<SimWrite> writes;  // in order; later writes win where they overlap
    // The device's registers below the direct region: each register setting with its limits,
    // the controls and status records. Plain memory on a block-family device.
    std::vector<RSimRange> registers;
    std::vector<std::string> missingFiles;
    // Highest flash offset (address bits 0-27, direct region excluded) that the model names,
    // plus one: the simulated chip must be at least this large.
    uint32_t flashBytesNeeded = 0;
};

// Reads the model file; relative "filename"s hang off programFolder (empty: the program's).
SimModelImage SimFromModel(const std::string& modelPath, const std::string& programFolder = "");

// Puts a model image into a simulated memory as its initial content. Image is the simulator's
// memory (Direct(), SetFlash(region, offset, byte), FlashBytes(), kDirectBytes). Model addresses
// are the host's: plain flash offsets, for the page family with bits 28-31 choosing the region
// and 0xF0000000 up the direct region. (The host turns an offset into page offset / page size;
// the page's address on the wire, p << pageShift, is the device's business, not the model's.)
// False with error when a write falls outside the memory (the chip is too small for the model).
template <class Image>
bool SimApplyModel(const SimModelImage& model, Image& img, bool pageFamily, std::string& error) {
    const uint32_t flashBytes = img.FlashBytes();
    for (const auto& w : model.writes) {
        for (size_t i = 0; i < w.bytes.size(); ++i) {
            const uint32_t a = w.address + uint32_t(i);
            if (pageFamily && a >= 0xF0000000u) {
                if (a - 0xF0000000u >= Image::kDirectBytes) {
                    error = "model address outside the direct region: " + std::to_string(a);
                    return false;
                }
                img.Direct()[a - 0xF0000000u] = w.bytes[i];
                continue;
            }
            uint32_t region = 0, index = a;
            if (pageFamily) {
                region = a >> 28;
                index = a & 0x0FFFFFFFu;
            }
            if (index >= flashBytes || region >= Image::kRegions) {
                error = "model address outside the flash chip: " + std::to_string(a) +
                        " (the model needs " + std::to_string(model.flashBytesNeeded) + " bytes of flash)";
                return false;
            }
            img.SetFlash(region, index, w.bytes[i]);
        }
    }
    return true;
}

// Hex byte string "0A1B2C" -> bytes (pairs; a bad pair reads up to its first non-hex digit).
std::vector<uint8_t> SimHexBytes(const std::string& text, size_t maxBytes);
