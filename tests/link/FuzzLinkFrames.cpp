// Any bytes as device replies to the program's transactions, and any bytes as requests to the
// simulated device: nothing is read past what arrived, nothing crashes.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/CFrameLink.h"
#include "link/FlashChips.h"
#include "link/LinkCrc.h"
#include "sim/CSimDevice.h"
#include "sim/CSimFrames.h"

namespace {
// Replies come from the fuzz input; requests go nowhere.
class InputPort : public IPortIO {
public:
    InputPort(const uint8_t* d, size_t n) : m_d(d), m_n(n) {}
    bool PortWriteData(const uint8_t*, int) override { return true; }
    bool PortReadData(uint8_t* out, int count) override {
        if (count < 0 || size_t(count) > m_n - m_pos) return false;
        std::memcpy(out, m_d + m_pos, size_t(count));
        m_pos += size_t(count);
        return true;
    }

private:
    const uint8_t* m_d;
    size_t m_n, m_pos = 0;
};

struct Devices {
    std::string path[2];
    CSimImage image[2];
    std::unique_ptr<CSimDevice> dev[5];
    Devices() {
        const char* chips[2] = {"S25FL004K", "AT45DB041"};
        const SimDialect dialects[5] = {SimDialect::Short1, SimDialect::Short2, SimDialect::Bus, SimDialect::BusB,
                                        SimDialect::PointB};
        for (int i = 0; i < 2; ++i) {
            char tmpl[] = "/tmp/varo-fuzz-sim-XXXXXX";
            int fd = mkstemp(tmpl);
            if (fd >= 0) close(fd);
            unlink(tmpl);
            path[i] = tmpl;
            const RFlashChip* c = FlashChipByName(chips[i]);
            std::string err;
            image[i].Open(path[i], c->name, c->pageSize * c->pages, err);
        }
        for (int k = 0; k < 5; ++k) {
            RSimDeviceConfig cfg;
            cfg.dialect = dialects[k];
            cfg.chip = FlashChipByName(k == 3 ? "AT45DB041" : "S25FL004K");
            cfg.busAddress = 1;
            dev[k] = std::make_unique<CSimDevice>(cfg, image[k == 3 ? 1 : 0]);
        }
    }
    ~Devices() {
        for (auto& p : path) unlink(p.c_str());
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Devices devices;
    if (size < 2) return 0;
    const int sel = data[0] % 5;
    const uint8_t m = data[1];
    const uint8_t* rest = data + 2;
    const size_t n = size - 2;

    // Program side: a transaction of the selected dialect reading the input as its replies.
    {
        static const LinkDialect hd[5] = {LinkDialect::Short, LinkDialect::Short, LinkDialect::Bus, LinkDialect::BusB,
                                          LinkDialect::PointB};
        InputPort port(rest, n < 2048 ? n : 2048);
        CFrameLink f(hd[sel], &port);
        f.SetRepeatWaitMs(0);
        f.SetDestAddress(m & 1 ? 0 : 1);
        const int max = f.MaxData();
        if (hd[sel] == LinkDialect::Short) {
            f.Req()[2] = m & 0x80 ? 0x04 : 0x03;
            f.Req()[3] = uint8_t(m % (max + 1));
            f.ShortTransaction(0, m % (max + 1), (m & 2) != 0);
        } else {
            f.Begin(0x05);
            f.ReqData()[0] = uint8_t(m % (max + 1));
            f.Transaction(0x05, 1, m % (max + 1), 3);
        }
    }

    // Device side: the input as a request stream, and as one frame with a valid checksum.
    CSimDevice& dev = *devices.dev[sel];
    std::vector<uint8_t> frame, reply;
    CSimFrameAssembler as(dev.Config().dialect);
    as.Feed(rest, n);
    while (as.Next(frame)) dev.HandleFrame(frame.data(), frame.size(), 0, reply);
    if (dev.IsAddressed()) {
        if (n >= 9) {
            frame.assign(rest, rest + (n < 9 + 240 ? n : 9 + 240));
            frame[0] = 0xE2;
            frame[1] = 0xE4;
            frame[2] = dev.DeviceType();
            frame[8] = uint8_t(frame.size() - 9);
            const uint16_t c = LinkCrc16(frame.data(), frame.size());
            frame.push_back(uint8_t(c));
            frame.push_back(uint8_t(c >> 8));
            dev.HandleFrame(frame.data(), frame.size(), 0, reply);
        }
    } else if (n >= 4) {
        frame.assign(rest, rest + (n < 4 + 32 ? n : 4 + 32));
        frame[0] = 0xE2;
        frame[1] = 0xE4;
        if (frame[2] != 0x03 && frame[2] != 0x08) frame[3] = uint8_t(frame.size() - 4);
        else frame.resize(4);
        frame.push_back(LinkCrc8(frame.data(), frame.size()));
        dev.HandleFrame(frame.data(), frame.size(), 0, reply);
    }
    return 0;
}
