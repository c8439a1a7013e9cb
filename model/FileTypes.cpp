#include "model/FileTypes.h"

#include <cctype>
#include <strings.h>

namespace {
struct FileType {
    const char* ext;
    const char* description;
};
const FileType kTypes[kFileTypeCount] = {
    {".*", "All files"},
    {".lng", "Language files"},
    {".tga", "TGA image files"},
    {".bmp", "BMP image files"},
    {".lbl", "Logo files"},
    {".sld", "Slide files"},
    {".qkp", "Compressed image files"},
    {".qkb", "Image banks"},
    {".pnp", "Plug&Play information files"},
    {".uit", "Universal Test Table files"},
    {".sig", "Signal files"},
    {".bin", "Binary files"},
    {".xml", "XML files"},
    {".pro", "Profile files"},
    {".mss", "Multiscreen files"},
    {".dlb", "Dynamic label"},
    {".avi", "AVI files"},
    {".txt", "Text files"},
    {kPicturePattern, "Picture files"},
    {".gif", "GIF image files"},
    {".unknown", "%s files"},
    {".png", "PNG image files"},
};
}  // namespace

const char* FileTypeExtension(int n) { return n >= 0 && n < kFileTypeCount ? kTypes[n].ext : ""; }

std::string FileTypeBuiltinText(int id) {
    if (id >= 20101 && id < 20101 + kFileTypeCount) return kTypes[id - 20101].description;
    if (id == 20150) return "All supported types";
    return {};
}

int FileTypeOfPath(const std::string& path, bool picturesAccepted) {
    auto slash = path.find_last_of("/\\");
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
    std::string ext = path.substr(dot);
    for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (picturesAccepted && std::string(kPicturePattern).find(ext) != std::string::npos) return kFileTypePictures;
    for (int i = 0; i < kFileTypeCount; ++i)
        if (strcasecmp(kTypes[i].ext, ext.c_str()) == 0) return i;
    return -1;
}
