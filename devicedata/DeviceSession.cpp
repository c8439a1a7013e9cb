#include "DeviceSession.h"

#include "app/DebugLog.h"
#include "app/ProgramFolder.h"
#include "app/Strings.h"
#include "devicedata/ModelDetection.h"
#include "link/LinkDefs.h"

#include <sys/stat.h>

#include <cstring>

namespace {
const char* const kNoSignature =
    "Plug&Play information not detected!\n\nPlease select your device model from the list.";
const char* const kNoModelFile =
    "Plug&Play information file for this model [%1] not found!\n\nPlease update your copy of the software to latest "
    "version.";

bool FileExists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}
}  // namespace

CDeviceSession::CDeviceSession(IOperationUi& ui, ILinkNotifier* notifier)
    : m_ui(ui), m_notifier(notifier), m_ops(new COperations(m_adapter, ui)),
      m_buffer(new uint8_t[RDeviceContext::kBufferSize]()) {
    programFolder = ProgramFolder();
    m_ctx.ops = m_ops.get();
    m_ctx.engine = &m_adapter;
    m_ctx.ui = &m_ui;
    m_ctx.notifier = notifier;
    m_ctx.buffer = m_buffer.get();
    m_ctx.bufferSize = RDeviceContext::kBufferSize;
    m_ctx.notResponding = [this] { return m_engine.NotResponding(); };
    // No message for link failures while Ethernet has no device address.
    m_ops->SetSilentFailures([this] { return Ethernet() && deviceIp == 0; });
}

CDeviceSession::~CDeviceSession() { m_engine.DestroyLinks(); }

int CDeviceSession::ProtocolForInterface() const {
    switch (interfaceChoice) {
    case kRS232: return signatureMode ? kProtoShort2 : kProtoShort1;
    case kRS422: return kProtoPointB;
    case kRS485: return kProtoBusB;
    case kUdp: return kProtoUdp;
    default: return kProtoTcp;
    }
}

void CDeviceSession::SelectLink() {
    const int protocol = ProtocolForInterface();
    if (!portPath.empty())
        m_engine.SelectLinkPath(deviceIp, protocol, m_notifier, portPath, busAddress, localIp);
    else
        m_engine.SelectLink(deviceIp, protocol, m_notifier, portIndex, busAddress, localIp);
    m_ctx.interfaceChoice = interfaceChoice;
}

void CDeviceSession::DestroyLinks() { m_engine.DestroyLinks(); }

void CDeviceSession::FillModelList() {
    modelList = ListModelsWithoutSignature(programFolder + "ModelsOld");
}

void CDeviceSession::DropModel() {
    if (!model) return;
    // The pages hold the model's elements: they go first, while those still exist.
    std::unique_ptr<CPnPModel> old = std::move(model);
    m_ctx.model = nullptr;
    if (onModelChanged) onModelChanged();
}

void CDeviceSession::ForgetModel() {
    modelName.clear();
    DropModel();
    modelHasFiles = modelHasFactoryMode = false;
}

void CDeviceSession::Redetect() {
    ForgetModel();
    busList.clear();
    if (onBusListChanged) onBusListChanged();
    if (onModelChanged) onModelChanged();
    SelectLink();
    if (interfaceChoice == kRS485) {
        m_buffer[0] = 0;
        m_ops->Begin(kOpBusScan, 256, -1, [this](int) { return BusScanDone(); });
        m_engine.StartCommand(0, kCmdScan, 0, m_buffer.get());
        return;
    }
    StartSignatureRead();
}

bool CDeviceSession::BusScanDone() {
    const int count = m_buffer[0];
    busList.clear();
    for (int i = 1; i <= count && i < 255; ++i) busList.push_back(m_buffer[i]);
    if (busList.empty()) {
        busAddress = -1;
        if (onBusListChanged) onBusListChanged();
        m_ui.ShowMessage(FormatMessage(kStrLinkError + 7), MsgIcon::Exclamation);
        return false;
    }
    bool found = false;
    for (int a : busList) found = found || a == busAddress;
    if (!found) busAddress = busList.front();
    if (onBusListChanged) onBusListChanged();
    m_ops->AfterEnd([this] { StartSignatureRead(); });
    return false;
}

void CDeviceSession::ChooseBusAddress(int address) {
    busAddress = address;
    StartSignatureRead();
}

void CDeviceSession::StartSignatureRead() {
    signatureMode = true;
    ForgetModel();
    SelectLink();
    if (Ethernet() && deviceIp == 0) return;  // nothing to read from
    const uint32_t address = SignatureAddress(interfaceChoice);
    std::memset(m_buffer.get(), 0, kSignatureSize);
    m_ops->Begin(kOpSignature, kSignatureSize, -1, [this](int) { return SignatureRead(); });
    m_engine.StartCommand(kSignatureSize, kCmdRead, address, m_buffer.get());
}

bool CDeviceSession::SignatureRead() {
    std::string text = EvaluateSignature(m_buffer.get(), kSignatureSize);
    if (text.empty()) {
        signatureMode = false;
        SelectLink();
        m_ui.ShowMessage(kNoSignature, MsgIcon::Exclamation);
        LoadListedModel();
        RebuildPages();
        return false;
    }
    signatureMode = true;
    SelectLink();
    modelName = text;
    auto m = std::make_unique<CPnPModel>();
    m->SetLanguage(language);
    m->SetProgramFolder(programFolder);
    const std::string path = programFolder + "ModelsPnP/" + text + ".xml";
    const std::string file = SignatureModelPath(programFolder, text);
    const int r = file.empty() ? int(kPnPCannotOpen) : m->Load(file);
    if (r == 0) {
        model = std::move(m);
    } else if (r == 1) {
        m_ui.ShowMessage(FormatText(kNoModelFile, {text}), MsgIcon::Stop);
    } else {
        m_ui.ShowMessage(FormatMessage(kStrFileError + 2, {path}), MsgIcon::Stop);
    }
    RebuildPages();
    return false;
}

void CDeviceSession::ChooseListedModel(const std::string& name) {
    listedModelName = name;
    DropModel();
    LoadListedModel();
    RebuildPages();
}

void CDeviceSession::LoadListedModel() {
    DropModel();
    if (listedModelName.empty()) return;
    auto m = std::make_unique<CPnPModel>();
    m->SetLanguage(language);
    m->SetProgramFolder(programFolder);
    const std::string path = programFolder + "ModelsOld/" + listedModelName + ".xml";
    const int r = m->Load(ResolveDataPath(programFolder, "ModelsOld/" + listedModelName + ".xml"));
    if (r != 0) {
        listedModelName.clear();
        m_ui.ShowMessage(FormatMessage(kStrFileError + r, {path}), MsgIcon::Stop);
        return;
    }
    model = std::move(m);
}

void CDeviceSession::RebuildPages() {
    modelHasFiles = modelHasFactoryMode = missingFileSeen = false;
    firstMissingFile.clear();
    m_ctx.model = model.get();
    m_ctx.effectiveModelName = EffectiveModelName();
    if (model) {
        for (const auto& e : model->elements) {
            for (const auto& item : e->items) {
                if (item->fileName.empty()) continue;
                modelHasFiles = true;
                if (e->factoryMode || item->factoryMode) modelHasFactoryMode = true;
                if (!FileExists(item->fileName)) {
                    DebugLog("CMainWin::SelectModelFromPnPFile(): missing file: %s", item->fileName.c_str());
                    if (!missingFileSeen) {
                        missingFileSeen = true;
                        firstMissingFile = item->fileName;
                    }
                }
            }
        }
    }
    if (onModelChanged) onModelChanged();
    if (factoryRestoreAtStart && model) {
        factoryRestoreAtStart = false;
        if (modelHasFiles && onFactoryRestoreAtStart) onFactoryRestoreAtStart(modelHasFactoryMode);
    }
}
