#pragma once
#include <cstdint>
#include <string>
#include <vector>

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
    std::vector<std::string> missingFiles;
    // Highest flash offset (address bits 0-27, direct region excluded) that the model names,
    // plus one: the simulated chip must be at least this large.
    uint32_t flashBytesNeeded = 0;
};

// Reads the model file; relative "filename"s hang off programFolder (empty: the program's).
SimModelImage SimFromModel(const std::string& modelPath, const std::string& programFolder = "");

// Hex byte string "0A1B2C" -> bytes (pairs; a bad pair reads up to its first non-hex digit).
std::vector<uint8_t> SimHexBytes(const std::string& text, size_t maxBytes);
