#pragma once
#include <string>

// Where the program keeps what it writes. A writable program folder (the build tree, a copy
// unpacked by hand) holds the store and the log as always; a read-only one, or one that an
// install marked with kInstalledMarker (a package's files are not the user's, even for root),
// sends them to the user's folders: $XDG_CONFIG_HOME/VaroConfig/ (default ~/.config) for the store,
// $XDG_STATE_HOME/VaroConfig/ (default ~/.local/state) for the log. Folders end in '/'.
std::string StoreFolder();
std::string LogFolder();
// The starting folder of the operator's own files (profiles, tables, pictures) when no folder
// was remembered: "" (the current folder) with a writable program folder, else the user's
// documents folder ($XDG_DOCUMENTS_DIR, else ~/Documents when it exists, else ~).
std::string DocumentsFolder();

constexpr const char* kInstalledMarker = "installed.txt";

// True when the program may keep its files in folder: it can be written and no install marked it.
bool FolderWritable(const std::string& folder);
// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& folder);
