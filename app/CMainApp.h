#pragma once
#include "SingleInstance.h"

#include <string>

// What start-up decides before the main window runs: one instance per machine, the program
// folder and the store's path, and the factory-restore-at-start switch.
class CMainApp {
public:
    static constexpr const char* kMutexName = "Varo_Config";

    // False when another copy already runs: the caller then exits with code 0, no window.
    bool Start(int argc, char** argv);
    void Exit();

    const std::string& Folder() const { return m_folder; }
    const std::string& IniPath() const { return m_iniPath; }
    bool FactoryRestoreAtStart() const { return m_factoryAtStart; }

    // The switch is a plain substring of the whole command line.
    static bool HasFactorySwitch(const std::string& commandLine);
    static std::string CommandLine(int argc, char** argv);

private:
    CSingleInstance m_instance;
    std::string m_folder;
    std::string m_iniPath;
    bool m_factoryAtStart = false;
};
