#pragma once
// A simulated device on the connection a window test chooses, with the store set so the real
// main window connects to it, and the window's messages and questions recorded.
#include "../eth/NetSim.h"
#include "../link/LinkTestSupport.h"
#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/ui/CMainWin.h"
#include "common/TempDir.h"
#include "sim/CSimImage.h"

#include <QStringList>

#include <fstream>

#include <memory>
#include <string>
#include <vector>

struct RWindowSimDevice {
    std::unique_ptr<SimProcess> serial;
    std::unique_ptr<NetSim> net;
    std::string image;  // the device's memory as varosim keeps it

    // interface: 0 RS-232, 1 RS-422, 2 RS-485, 3 TCP, 4 UDP. serialArgs: the dialect and any
    // other varosim options of a serial device (the port becomes COM2).
    bool Start(const TempDir& dir, int interface, const std::string& modelFile,
               std::vector<std::string> serialArgs = {}) {
        AppStore().WriteInt("Main", "Interface", interface);
        if (interface <= 2) {
            serialArgs.insert(serialArgs.begin(), {"--model", modelFile});
            serial = std::make_unique<SimProcess>(dir, serialArgs);
            if (!serial->Ready()) return false;
            image = serial->Image();
            AppStore().WriteInt("Main", "Port", 1);
            AppStore().WriteString("Ports", "COM2", serial->Path());
            return true;
        }
        const uint32_t ip = NetSim::NextAddress();
        image = dir.File("dev.img");
        net = std::make_unique<NetSim>(
            std::vector<std::string>{interface == 3 ? "--tcp" : "--udp", IpToString(ip), "--model", modelFile}, image);
        AppStore().WriteInt("Main", "ManualIP", 1);
        AppStore().WriteInt("Main", "IP", IpToStored(ip));
        return net->Ready();
    }

    // A device memory byte range: the direct region, or flash by region and offset.
    std::vector<uint8_t> Bytes(uint32_t address, size_t n) const {
        CSimImage img;
        std::string err;
        if (!img.OpenExisting(image, err)) return {};
        std::vector<uint8_t> out;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t a = address + uint32_t(i);
            out.push_back(a >= 0xF0000000u ? img.Direct()[a - 0xF0000000u] : img.Flash(a >> 28, a & 0x0FFFFFFFu));
        }
        return out;
    }
    // Device flash bytes changed behind the link's back (the simulator keeps flash inverted).
    void Put(uint32_t address, const std::vector<uint8_t>& bytes) const {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(CSimImage::kHeaderBytes + CSimImage::kDirectBytes + address));
        for (uint8_t b : bytes) f.put(char(~b));
    }
};

// Records what the window shows the operator; questions get `answer`.
struct RWindowOperator {
    QStringList messages, questions;
    bool answer = true;
    void Attach(CMainWin& w) {
        w.messageHook = [this](const QString& t, MsgIcon) { messages << t; };
        w.questionHook = [this](const QString& t, MsgIcon, bool) {
            questions << t;
            return answer;
        };
    }
};
