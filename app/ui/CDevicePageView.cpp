#include "CDevicePageView.h"

#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "devicedata/DeviceSearch.h"
#include "devicedata/DeviceSession.h"
#include "devicedata/TimeSync.h"
#include "link/CSerialPort.h"
#include "link/eth/LocalInterfaces.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

const char* const kInterfaceNames[5] = {"RS-232", "RS-422", "RS-485", "Ethernet TCP", "Ethernet UDP"};

struct RRegisteredFrame {
    int column;
    DeviceFrameFactory factory;
};
std::vector<RRegisteredFrame>& FrameRegistry() {
    static std::vector<RRegisteredFrame> r;
    return r;
}

// "VaroConfig": what this program is and which build.
class CAboutFrame : public CDeviceFrame {
public:
    CAboutFrame(RDevicePageHost& host, QWidget* parent) : CDeviceFrame("VaroConfig", host, parent) {
        auto* l = new QVBoxLayout(this);
        l->addWidget(new QLabel("Video device configuration, version 1.0", this));
        const std::string build = ReadBuildLine(ProgramFolder());
        auto* line = new QLabel(build.empty() ? QString() : QString("build  %1").arg(Q(build)), this);
        line->setObjectName("buildLine");
        l->addWidget(line);
    }
};
}  // namespace

void RegisterDeviceFrame(int column, DeviceFrameFactory factory) {
    FrameRegistry().push_back({column, std::move(factory)});
}

// "Device": the model the device reported, or the list of models without signature.
class CModelFrame : public CDeviceFrame {
public:
    CModelFrame(RDevicePageHost& host, QWidget* parent) : CDeviceFrame("Device", host, parent) {
        auto* l = new QHBoxLayout(this);
        l->addWidget(new QLabel("Model", this));
        label = new QLabel(this);
        label->setObjectName("modelName");
        list = new QComboBox(this);
        l->addWidget(label, 1);
        l->addWidget(list, 1);
        connect(list, &QComboBox::activated, this, [this](int i) {
            m_host.session.ChooseListedModel(i >= 0 ? list->itemText(i).toStdString() : std::string());
        });
    }
    void Start() override {
        m_host.session.FillModelList();
        list->clear();
        for (const auto& n : m_host.session.modelList) list->addItem(Q(n));
    }
    void ModelChanged() override {
        CDeviceSession& s = m_host.session;
        label->setText(Q(s.signatureMode ? s.modelName : std::string()));
        if (s.signatureMode) return;
        int idx = -1;
        for (int i = 0; i < list->count() && !s.listedModelName.empty(); ++i)
            if (list->itemText(i).startsWith(Q(s.listedModelName))) {
                idx = i;
                break;
            }
        list->setCurrentIndex(idx);
    }
    void Update(bool) override {
        label->setVisible(m_host.session.signatureMode);
        list->setVisible(!m_host.session.signatureMode);
    }

    QLabel* label;
    QComboBox* list;
};

// "Connection": the link choice, the port or the addresses, "Connect", and the RS-485 bus
// address.
class CConnectionFrame : public CDeviceFrame {
public:
    CConnectionFrame(RDevicePageHost& host, QWidget* parent) : CDeviceFrame("Connection", host, parent) {
        CMainSettings& st = host.settings;
        auto* cl = new QGridLayout(this);
        auto* ifGroup = new QButtonGroup(this);
        for (int i = 0; i < 5; ++i) {
            ifButtons[i] = new QRadioButton(kInterfaceNames[i], this);
            ifGroup->addButton(ifButtons[i], i);
            cl->addWidget(ifButtons[i], i, 0);
        }
        ifButtons[std::clamp(st.interface, 0, 4)]->setChecked(true);
        connect(ifGroup, &QButtonGroup::idClicked, this, [this](int c) { OnInterfaceChosen(c); });

        portLabel = new QLabel("Serial port", this);
        portList = new QComboBox(this);
        for (int i = 0; i < 8; ++i) {
            const std::string name = "COM" + std::to_string(i + 1);
            const std::string path = ComPortPath(i + 1);
            portList->addItem(Q(name + "  (" + path + ")"), i);
        }
        portList->setCurrentIndex(st.port);
        connect(portList, &QComboBox::activated, this, [this](int i) {
            if (i == m_host.session.portIndex) return;
            m_host.session.portIndex = i;
            m_host.settings.port = i;
            m_host.session.Redetect();
        });
        cl->addWidget(portLabel, 0, 1);
        cl->addWidget(portList, 0, 2);

        localIpLabel = new QLabel("Local IP", this);
        localIp = new QComboBox(this);
        cl->addWidget(localIpLabel, 1, 1);
        cl->addWidget(localIp, 1, 2);
        connect(localIp, &QComboBox::activated, this, [this](int i) { OnLocalIpChosen(i); });

        deviceIpGroup = new QGroupBox("Device IP", this);
        auto* dg = new QGridLayout(deviceIpGroup);
        choose = new QRadioButton("Choose", deviceIpGroup);
        enterIp = new QRadioButton("Enter IP", deviceIpGroup);
        (st.manualIp ? enterIp : choose)->setChecked(true);
        foundList = new QComboBox(deviceIpGroup);
        find = new QPushButton("Find", deviceIpGroup);
        ipEdit = new QLineEdit(deviceIpGroup);
        ipEdit->setObjectName("deviceIp");
        ipEdit->setPlaceholderText("0.0.0.0");
        ipEdit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(R"(^(\d{1,3}(\.\d{0,3}){0,3})?$)"), ipEdit));
        dg->addWidget(choose, 0, 0);
        dg->addWidget(foundList, 0, 1);
        dg->addWidget(find, 0, 2);
        dg->addWidget(enterIp, 1, 0);
        dg->addWidget(ipEdit, 1, 1, 1, 2);
        cl->addWidget(deviceIpGroup, 2, 1, 3, 2);
        if (st.ip != 0) {
            ipEdit->setText(Q(IpToString(st.ip)));
            foundList->addItem(Q(IpToString(st.ip)), st.ip);
        }
        connect(choose, &QRadioButton::toggled, this, [this](bool on) {
            m_host.settings.manualIp = on ? 0 : 1;
            m_host.updateControls();
        });
        connect(find, &QPushButton::clicked, this, [this] { OnFind(); });

        connectButton = new QPushButton("Connect", this);
        cl->addWidget(connectButton, 5, 2);
        connect(connectButton, &QPushButton::clicked, this, [this] {
            if (m_host.session.Ops().Busy()) return;
            TakeDeviceAddress();
            m_host.session.Redetect();
        });

        addressGroup = new QGroupBox("Address", this);
        auto* bl = new QHBoxLayout(addressGroup);
        busList = new QComboBox(addressGroup);
        writeAddress = new QPushButton("Write address", addressGroup);
        bl->addWidget(busList, 1);
        bl->addWidget(writeAddress);
        cl->addWidget(addressGroup, 6, 0, 1, 3);
        connect(busList, &QComboBox::activated, this, [this](int i) {
            const int a = busList->itemData(i).toInt();
            if (a != m_host.session.busAddress) m_host.session.ChooseBusAddress(a);
        });
    }

    void Start() override {
        std::vector<REthernetInterface> list;
        ListLocalInterfaces(list);
        CMainSettings& st = m_host.settings;
        localIp->clear();
        for (const auto& i : list) localIp->addItem(Q(IpToString(i.address)), i.address);
        int idx = localIp->findData(st.localIp);
        if (idx < 0 && localIp->count() > 0) {
            idx = 0;
            st.localIp = localIp->itemData(0).toUInt();
            CMainSettings::SaveLocalIp(AppStore(), st.localIp);
        }
        if (idx >= 0) localIp->setCurrentIndex(idx);
        m_host.session.localIp = st.localIp;
    }

    void BusListChanged() {
        busList->clear();
        for (int a : m_host.session.busList) busList->addItem(QString::asprintf("%03d", a), a);
        const int idx = busList->findData(m_host.session.busAddress);
        if (idx >= 0) busList->setCurrentIndex(idx);
    }

    void Update(bool idle) override {
        CDeviceSession& s = m_host.session;
        const bool serial = s.interfaceChoice <= CDeviceSession::kRS485;
        const bool eth = s.Ethernet();
        portLabel->setVisible(serial);
        portList->setVisible(serial);
        localIpLabel->setVisible(eth);
        localIp->setVisible(eth);
        localIp->setEnabled(localIp->count() > 0);
        deviceIpGroup->setVisible(eth);
        const bool chosen = choose->isChecked();
        foundList->setEnabled(chosen);
        find->setEnabled(chosen && idle);
        ipEdit->setEnabled(!chosen);
        addressGroup->setVisible(s.interfaceChoice == CDeviceSession::kRS485);
        busList->setEnabled(idle && busList->count() > 0);
        writeAddress->setEnabled(false);  // the window writes no bus address
    }

    QRadioButton* ifButtons[5] = {};
    QLabel* portLabel;
    QComboBox* portList;
    QLabel* localIpLabel;
    QComboBox* localIp;
    QGroupBox* deviceIpGroup;
    QRadioButton* choose;
    QRadioButton* enterIp;
    QComboBox* foundList;
    QPushButton* find;
    QLineEdit* ipEdit;
    QPushButton* connectButton;
    QGroupBox* addressGroup;
    QComboBox* busList;
    QPushButton* writeAddress;

private:
    void TakeDeviceAddress() {
        CDeviceSession& s = m_host.session;
        if (!s.Ethernet()) return;
        if (enterIp->isChecked()) {
            uint32_t ip = 0;
            // Only a complete address replaces the previous one.
            if (IpFromString(ipEdit->text().toStdString(), ip)) s.deviceIp = ip;
        } else {
            const int i = foundList->currentIndex();
            s.deviceIp = i >= 0 ? foundList->itemData(i).toUInt() : 0;
        }
    }
    void OnInterfaceChosen(int c) {
        if (c == m_host.session.interfaceChoice) return;
        m_host.session.interfaceChoice = c;
        m_host.settings.interface = c;
        m_host.updateControls();
        m_host.session.Redetect();
    }
    void OnLocalIpChosen(int index) {
        if (index < 0) return;
        m_host.settings.localIp = localIp->itemData(index).toUInt();
        CMainSettings::SaveLocalIp(AppStore(), m_host.settings.localIp);
        m_host.session.localIp = m_host.settings.localIp;
        TakeDeviceAddress();
        m_host.session.Redetect();
    }
    void OnFind() {
        COperations& ops = m_host.session.Ops();
        if (ops.Busy() || !choose->isChecked()) return;
        ops.Begin(kOpDeviceSearch, 1);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const std::vector<uint32_t> found = FindEthernetDevices(m_host.settings.localIp);
        QApplication::restoreOverrideCursor();
        const uint32_t previous = foundList->currentIndex() >= 0 ? foundList->currentData().toUInt() : 0;
        const RDeviceList l = RefillDeviceList(found, previous);
        foundList->clear();
        for (uint32_t ip : l.entries) foundList->addItem(Q(IpToString(ip)), ip);
        foundList->setCurrentIndex(l.selected);
        ops.End();
    }
};

// "Commands": the device clock, and whether writes are read back.
class CCommandsFrame : public CDeviceFrame {
public:
    CCommandsFrame(RDevicePageHost& host, QWidget* parent) : CDeviceFrame("Commands", host, parent) {
        auto* l = new QVBoxLayout(this);
        syncTime = new QPushButton("Synchronize time", this);
        l->addWidget(syncTime);
        connect(syncTime, &QPushButton::clicked, this, [this] { StartTimeSync(m_host.session.Context()); });
        verify = new QCheckBox("Verify write operations", this);
        verify->setChecked(host.settings.verifyWrite != 0);
        l->addWidget(verify);
        connect(verify, &QCheckBox::toggled, this, [this](bool on) {
            m_host.settings.verifyWrite = on ? 1 : 0;
            m_host.session.Engine().SetVerify(on);
        });
    }
    void Update(bool) override {
        const CPnPModel* m = m_host.session.model.get();
        syncTime->setVisible(m && m->timeSync);
    }

    QPushButton* syncTime;
    QCheckBox* verify;
};

CDevicePageView::CDevicePageView(RDevicePageHost host, RDeviceContext& ctx, QWidget* parent)
    : CPageView(nullptr, ctx, parent), m_host(std::move(host)) {
    auto* columns = new QHBoxLayout(this);
    QVBoxLayout* col[2] = {new QVBoxLayout, new QVBoxLayout};
    columns->addLayout(col[0], 1);
    columns->addLayout(col[1], 1);

    auto add = [&](int c, CDeviceFrame* f) {
        col[c]->addWidget(f);
        m_frames.push_back(f);
    };
    add(0, new CAboutFrame(m_host, this));
    m_model = new CModelFrame(m_host, this);
    add(0, m_model);
    m_commands = new CCommandsFrame(m_host, this);
    add(0, m_commands);
    m_connection = new CConnectionFrame(m_host, this);
    add(1, m_connection);
    for (const auto& r : FrameRegistry()) add(std::clamp(r.column, 0, 1), r.factory(m_host, this));
    col[0]->addStretch(1);
    col[1]->addStretch(1);
}

void CDevicePageView::Update(bool idle) {
    setEnabled(idle);
    for (CDeviceFrame* f : m_frames) f->Update(idle);
}

void CDevicePageView::ModelChanged() {
    for (CDeviceFrame* f : m_frames) f->ModelChanged();
}

void CDevicePageView::BusListChanged() { m_connection->BusListChanged(); }

void CDevicePageView::Start() {
    for (CDeviceFrame* f : m_frames) f->Start();
}

QRadioButton* CDevicePageView::InterfaceButton(int i) const { return m_connection->ifButtons[i]; }
QPushButton* CDevicePageView::ConnectButton() const { return m_connection->connectButton; }
QLineEdit* CDevicePageView::AddressEdit() const { return m_connection->ipEdit; }
QRadioButton* CDevicePageView::EnterIpButton() const { return m_connection->enterIp; }
QComboBox* CDevicePageView::BusList() const { return m_connection->busList; }
QLabel* CDevicePageView::ModelLabel() const { return m_model->label; }
QComboBox* CDevicePageView::ModelList() const { return m_model->list; }
QCheckBox* CDevicePageView::VerifyBox() const { return m_commands->verify; }
