#pragma once
#include <string>

// The one table of file types shared by every file dialog and by the model file filters.
constexpr int kFileTypeCount = 22;
constexpr int kFileTypePictures = 18;
constexpr const char* kPicturePattern = ".bmp;*.tga;*.jpg;*.png;*.gif";

// Extension of type n (with the dot, ".bmp;*.tga;..." for type 18), "" when out of range.
const char* FileTypeExtension(int n);
// Built-in English text of string id (descriptions 20101 + n, 20150, 20121 ...), "" if unknown.
std::string FileTypeBuiltinText(int id);
// Type of a path: its extension in lower case; with pictures accepted an extension inside the
// picture pattern gives type 18; else the first type whose extension equals it; none: -1.
int FileTypeOfPath(const std::string& path, bool picturesAccepted);
