#include "MainSettings.h"

#include "UserFolders.h"

#include "IpAddress.h"

#include <fstream>

void CMainSettings::Load(const CConfigStore& s) {
    left = s.ReadInt("Layout", "Left", -1);
    top = s.ReadInt("Layout", "Top", -1);
    width = s.ReadInt("Layout", "Width", -1);
    height = s.ReadInt("Layout", "Height", -1);
    maximized = s.ReadInt("Layout", "Maximized", 0);
    interface = s.ReadInt("Main", "Interface", 3);
    if (interface < 0 || interface > 4) interface = 3;
    port = s.ReadInt("Main", "Port", 0);
    if (port < 0 || port > 7) port = 0;
    localIp = IpFromStored(s.ReadInt("Main", "LocalIP", 0));
    manualIp = s.ReadInt("Main", "ManualIP", 0);
    ip = IpFromStored(s.ReadInt("Main", "IP", 0));
    modelName = s.ReadString("Main", "ModelName", "");
    // The operator's files start in the documents folder when the program's is read-only.
    const std::string docs = DocumentsFolder();
    pictures = s.ReadString("Main", "Pictures", docs);
    dataPath = s.ReadString("Main", "DataPath", docs);
    binPath = s.ReadString("Main", "BinPath", docs);
    profilePath = s.ReadString("Main", "ProfilePath", docs);
    mscPath = s.ReadString("Main", "MSCPath", docs);
    dynLabelsPath = s.ReadString("Main", "DynLabelsPath", docs);
    background = s.ReadInt("Main", "Background", 2);
    dither = s.ReadInt("Main", "Dither", 0);
    filter = s.ReadInt("Main", "Filter", 0);
    shadow = s.ReadInt("Main", "Shadow", 0);
    shadowType = s.ReadInt("Main", "ShadowType", 0);
    shadowPixels = s.ReadInt("Main", "ShadowPxiels", 2);
    shadowTransp = s.ReadInt("Main", "ShadowTransp", 0);
    shadowDepth = s.ReadInt("Main", "ShadowDepth", 0);
    verifyWrite = s.ReadInt("Main", "VerifyWrite", 0);
}

void CMainSettings::SaveOnClose(CConfigStore& s) const {
    s.WriteInt("Layout", "Left", left);
    s.WriteInt("Layout", "Top", top);
    s.WriteInt("Layout", "Width", width);
    s.WriteInt("Layout", "Height", height);
    s.WriteInt("Layout", "Maximized", maximized ? 1 : 0);
    s.WriteString("Main", "ModelName", modelName);
    s.WriteInt("Main", "Port", port);
    s.WriteInt("Main", "IP", IpToStored(ip));
    s.WriteInt("Main", "ManualIP", manualIp);
    s.WriteInt("Main", "Interface", interface);
    s.WriteString("Main", "Pictures", pictures);
    s.WriteString("Main", "DataPath", dataPath);
    s.WriteString("Main", "BinPath", binPath);
    s.WriteString("Main", "ProfilePath", profilePath);
    s.WriteString("Main", "MSCPath", mscPath);
    s.WriteString("Main", "DynLabelsPath", dynLabelsPath);
    s.WriteInt("Main", "Background", background);
    s.WriteInt("Main", "Dither", dither);
    s.WriteInt("Main", "Filter", filter);
    s.WriteInt("Main", "Shadow", shadow);
    s.WriteInt("Main", "ShadowType", shadowType);
    s.WriteInt("Main", "ShadowPxiels", shadowPixels);
    s.WriteInt("Main", "ShadowTransp", shadowTransp);
    s.WriteInt("Main", "ShadowDepth", shadowDepth);
    s.WriteInt("Main", "VerifyWrite", verifyWrite);
}

void CMainSettings::SaveLocalIp(CConfigStore& s, uint32_t ip) { s.WriteInt("Main", "LocalIP", IpToStored(ip)); }

std::string ReadBuildLine(const std::string& folder) {
    std::ifstream f(folder + "build.txt");
    if (!f) return {};
    std::string line;
    std::getline(f, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 32) line.resize(32);
    return line;
}
