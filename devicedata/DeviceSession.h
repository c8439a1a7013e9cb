#pragma once
#include "devicedata/CEngineAdapter.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "link/CSerial.h"
#include "model/CPnPModel.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The connection to one device and what was learnt from it: the link selected for the
// connection choice, the RS-485 bus scan, the signature read and the model it selects.
// The main window shows it; varoctl and tests drive it without a window.
class CDeviceSession {
public:
    enum Interface { kRS232 = 0, kRS422 = 1, kRS485 = 2, kTcp = 3, kUdp = 4 };

    // notifier: receives the link's progress and completions and hands them to Ops().
    CDeviceSession(IOperationUi& ui, ILinkNotifier* notifier);
    ~CDeviceSession();

    // Connection state (from and to the store).
    int interfaceChoice = kTcp;
    int portIndex = 0;
    std::string portPath;  // when set, used instead of the COM entry (tests, varoctl)
    uint32_t deviceIp = 0;
    uint32_t localIp = 0;
    int busAddress = -1;
    std::vector<int> busList;

    // Model state.
    bool signatureMode = true;
    std::string modelName;        // from the signature
    std::string listedModelName;  // chosen from the models without signature
    std::vector<std::string> modelList;
    std::unique_ptr<CPnPModel> model;
    bool modelHasFiles = false, modelHasFactoryMode = false, missingFileSeen = false;
    std::string firstMissingFile;
    bool factoryRestoreAtStart = false;
    std::string programFolder;  // where ModelsPnP/ and ModelsOld/ are
    std::string language = "English";

    // Called after the model (and so the pages) changed, after the bus list changed, and
    // when the start switch asks for a factory restore (all: false = current mode only).
    std::function<void()> onModelChanged;
    std::function<void()> onBusListChanged;
    std::function<void(bool currentModeOnly)> onFactoryRestoreAtStart;

    COperations& Ops() { return *m_ops; }
    CSerial& Engine() { return m_engine; }
    CEngineAdapter& EngineAdapter() { return m_adapter; }
    RDeviceContext& Context() { return m_ctx; }
    uint8_t* Buffer() { return m_buffer.get(); }
    std::string EffectiveModelName() const { return signatureMode ? modelName : listedModelName; }
    bool Ethernet() const { return interfaceChoice == kTcp || interfaceChoice == kUdp; }
    int ProtocolForInterface() const;

    void FillModelList();
    // Forgets the model, selects the link, scans the bus (RS-485) or reads the signature.
    void Redetect();
    // A bus address chosen from the list: read that device's signature.
    void ChooseBusAddress(int address);
    // A model chosen from the list of models without signature.
    void ChooseListedModel(const std::string& name);
    // Makes the link current for the connection (keeps link objects where it can).
    void SelectLink();
    void DestroyLinks();

private:
    void ForgetModel();
    // Drops the model, telling onModelChanged before its elements are freed.
    void DropModel();
    void StartSignatureRead();
    bool SignatureRead();
    bool BusScanDone();
    void LoadListedModel();
    void RebuildPages();

    IOperationUi& m_ui;
    ILinkNotifier* m_notifier;
    CSerial m_engine;
    CEngineAdapter m_adapter{m_engine};
    std::unique_ptr<COperations> m_ops;
    std::unique_ptr<uint8_t[]> m_buffer;
    RDeviceContext m_ctx;
};
