#include "ModelDetection.h"

#include "app/ProgramFolder.h"

#include <dirent.h>
#include <strings.h>

std::string EvaluateSignature(const uint8_t* bytes, size_t size) {
    std::string text;
    // Bytes above 127 count as neither printable nor white space.
    for (size_t i = 0; i < size && i < 32; ++i) {
        uint8_t c = bytes[i];
        if (c < 0x20 || c > 0x7E) break;
        text += char(c);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

std::string SignatureModelPath(const std::string& programFolder, const std::string& signature) {
    // The signature comes from the device: it names a file in ModelsPnP/ and nothing else.
    if (signature.empty() || signature.find_first_of("/\\") != std::string::npos ||
        signature.find("..") != std::string::npos)
        return {};
    return ResolveDataPath(programFolder, "ModelsPnP/" + signature + ".xml");
}

std::vector<std::string> ListModelsWithoutSignature(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = opendir(folder.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 4 && strcasecmp(n.c_str() + n.size() - 4, ".xml") == 0) names.push_back(n.substr(0, n.size() - 4));
    }
    closedir(d);
    return names;
}
