#include "CMainApp.h"

#include "ConfigStore.h"
#include "ProgramFolder.h"
#include "UserFolders.h"

bool CMainApp::HasFactorySwitch(const std::string& commandLine) {
    return commandLine.find("/factory_settings") != std::string::npos;
}

std::string CMainApp::CommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        line += argv[i];
    }
    return line;
}

bool CMainApp::Start(int argc, char** argv) {
    if (!m_instance.Acquire(kMutexName)) return false;
    m_folder = ProgramFolder();
    // A read-only (installed) program folder keeps its store in the user's folder, starting
    // from the copy beside the program.
    m_iniPath = StoreFolder() + "VaroConfig.ini";
    AppStore().SetPath(m_iniPath);
    AppStore().SetSeed(StoreFolder() == m_folder ? std::string() : m_folder + "VaroConfig.ini");
    m_factoryAtStart = HasFactorySwitch(CommandLine(argc, argv));
    return true;
}

void CMainApp::Exit() { m_instance.Release(); }
