#include "Strings.h"

#include <atomic>
#include <map>

namespace {
const std::map<int, const char*>& Table() {
    static const std::map<int, const char*> t = {
        {20001, "Device"},
        {20050, "English"},
        {20150, "All supported types"},
        {21109, "Device link error:\n\nSerial port is not installed or in use by another application!"},
        {21110, "Device link error:\n\nCommuinication error, please check connection cable!"},
        {21111, "Device link error:\n\nPlease ensure that device is plugged and turned on!"},
        {21112, "Device link error:\n\nCommuinication error, please check connection cable and try again!"},
        {21113, "Device hardware failure:\n\nDevice reports internal error!"},
        {21114, "Operation aborted."},
        {21115, "No compatible devices found!"},
        {21116, "Flash chip on this device is not supported!\n\nPlease update your copy of the software to latest version."},
        {21117, "Device hardware failure:\nError READING block at address %1\n\nDo you want to continue?"},
        {21118, "Device hardware failure:\nError WRITING block at address %1\n\nDo you want to continue?"},
        {21119, "Device hardware failure:\nError ERASING block at address %1\n\nDo you want to continue?"},
        {21201, "Error opening file!\n\n%1"},
        {21202, "Loading failed - file is corrupt!\n\n%1\n"},
        {21203, "Error saving file!\n\n%1"},
        {21301, "Error opening image file:\n\n%1"},
        {21303, "Invalid image file format:\n\n%1"},
        {21350, "Unsupported image dimensions!\n\nPlease use %d x %d pixels image files."},
        {21351, "Unsupported image dimensions!\n\nPlease use %d x %d, %d x %d or %d x %d pixels image files."},
        {21418, "Data will be written to device.\n\nDo you want to continue?"},
        {21422, "Multiscreen settings will be written to device\n\nDo you want to continue?"},
        {21501, "Black"},
        {21502, "White"},
        {21503, "Checkered"},
        {21504, "no shadow"},
        {21505, "shadow bottom-right"},
        {21506, "shadow bottom-left"},
        {21507, "shadow top-right"},
        {21508, "shadow top-left"},
        {21509, "Black"},
        {21510, "Grey"},
        {21511, "Light"},
        {21717, "Elements [%s] and [%s] are overlapping! \n\nDo you want to correct this problem?"},
        {21718, "Background"},
    };
    return t;
}
std::atomic<TranslationLookup> g_lookup{nullptr};
}  // namespace

const char* BuiltinString(int id) {
    auto it = Table().find(id);
    return it == Table().end() ? "" : it->second;
}

void SetTranslationLookup(TranslationLookup lookup) { g_lookup = lookup; }

std::string LoadString(int id) {
    std::string text;
    if (auto f = g_lookup.load(); f && f(id, text)) return text;
    return BuiltinString(id);
}

std::string FormatText(const std::string& text, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            size_t n = size_t(text[i + 1] - '1');
            if (n < args.size()) {
                out += args[n];
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}
