#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The signature text from the 32 bytes read: up to the first byte that is not printable
// ASCII, trailing white space removed. Empty: the device has no signature.
std::string EvaluateSignature(const uint8_t* bytes, size_t size);

// The model file a signature names: ModelsPnP/<signature>.xml in the program folder, or ""
// when the signature could reach outside that folder (a path separator or "..").
std::string SignatureModelPath(const std::string& programFolder, const std::string& signature);

// The names (file name without ".xml") of the models without signature in folder, in the
// order the file system lists them.
std::vector<std::string> ListModelsWithoutSignature(const std::string& folder);

// Where the signature is read: 0xFFFFFF on RS-232, 0x80FFFFFF on every other connection.
inline uint32_t SignatureAddress(int interfaceChoice) { return interfaceChoice == 0 ? 0x00FFFFFFu : 0x80FFFFFFu; }
constexpr int kSignatureSize = 32;
