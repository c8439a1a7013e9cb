#include "CMainApp.h"

#include "ConfigStore.h"
#include "ProgramFolder.h"

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
    m_iniPath = m_folder + "VaroConfig.ini";
    AppStore().SetPath(m_iniPath);
    m_factoryAtStart = HasFactorySwitch(CommandLine(argc, argv));
    return true;
}

void CMainApp::Exit() { m_instance.Release(); }
