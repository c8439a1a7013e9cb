// The main window against varosim on TCP loopback, offscreen:
//  (a) opening a settings group page of 16 blocks, from selecting its tab to the end of the
//      operation (median of several runs), against the engine alone doing the same 16 block
//      reads without a window and against a plain TCP ping-pong of the same frame count;
//  (b) the user-interface thread's event-loop latency during a 16 MiB read: how late a 10 ms
//      timer fires and how long an event posted from another thread every 2 ms waits.
// Usage: mainwin_bench [--runs N]
#include "app/ui/CMainWin.h"
#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "common/TempDir.h"
#include "devicedata/ui/CSettingsPageView.h"
#include "eth/NetSim.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/eth/CEth1.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr int kBlocks = 16;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = size_t(p / 100.0 * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// A program folder beside the real one: everything linked, except that the sample model's
// series of input blocks is stretched to kBlocks (the simulator serves the same file).
bool MakeProgramFolder(const std::string& bin, const std::string& dir, std::string& model) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(bin, ec)) {
        const std::string name = e.path().filename().string();
        if (name == "ModelsPnP" || name == "VaroConfig.ini") continue;
        fs::create_symlink(e.path(), fs::path(dir) / name, ec);
    }
    fs::create_directories(dir + "/ModelsPnP");
    for (const auto& e : fs::directory_iterator(bin + "/ModelsPnP", ec))
        if (e.path().filename() != "HD-OVL.xml") fs::create_symlink(e.path(), fs::path(dir) / "ModelsPnP" / e.path().filename(), ec);
    std::string xml = TempDir::ReadAll(bin + "/ModelsPnP/HD-OVL.xml");
    std::smatch m;
    static const std::regex series(R"re(macro_from="(\d+)"\s+macro_to="(\d+)")re");
    if (!std::regex_search(xml, m, series)) return false;
    const int from = std::stoi(m[1].str());
    std::printf("sample model: a settings series of %d blocks (%s..%s), stretched to %d\n",
                std::stoi(m[2].str()) - from + 1, m[1].str().c_str(), m[2].str().c_str(), kBlocks);
    xml.replace(size_t(m.position(0)), size_t(m.length(0)),
                "macro_from=\"" + std::to_string(from) + "\" macro_to=\"" + std::to_string(from + kBlocks - 1) + "\"");
    model = dir + "/ModelsPnP/HD-OVL.xml";
    TempDir::WriteAll(model, xml);
    return true;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Plain TCP ping-pong over loopback, n exchanges of request/reply sizes like a block read's.
double TcpPingPong(int n, size_t req, size_t rep) {
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(ls, 1);
    getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    auto readAll = [](int fd, char* b, size_t k) {
        for (size_t got = 0; got < k;) {
            ssize_t r = read(fd, b + got, k - got);
            if (r <= 0) return false;
            got += size_t(r);
        }
        return true;
    };
    std::thread peer([&] {
        int s = accept(ls, nullptr, nullptr);
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> b(std::max(req, rep));
        for (int i = 0; i < n && readAll(s, b.data(), req); ++i)
            if (write(s, b.data(), rep) != ssize_t(rep)) break;
        close(s);
    });
    int c = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    std::vector<char> b(std::max(req, rep));
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        if (write(c, b.data(), req) != ssize_t(req) || !readAll(c, b.data(), rep)) break;
    const double ms = Ms(Clock::now() - t0);
    close(c);
    peer.join();
    close(ls);
    return ms;
}

// The engine alone (no window, its own waiter): the same block reads in one loop.
double EngineReads(uint32_t ip, const std::vector<std::pair<uint32_t, int>>& blocks, uint8_t* buffer) {
    CLinkWaiter waiter;
    CSerial engine;
    engine.SelectLinkPath(ip, kProtoTcp, &waiter, "", -1, 0);
    // The first command opens the connection; it is not part of the loop.
    engine.StartCommand(blocks[0].second, kCmdRead, blocks[0].first, buffer);
    if (waiter.Wait(&engine, 10000).result != 0) return -1;
    const auto t0 = Clock::now();
    for (const auto& [address, size] : blocks) {
        engine.StartCommand(size, kCmdRead, address, buffer);
        if (waiter.Wait(&engine, 10000).result != 0) return -1;
    }
    return Ms(Clock::now() - t0);
}
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int runs = 15;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    QApplication app(argc, argv);

    const char* env = std::getenv("VARO_BIN_DIR");
    const std::string bin = env ? env : VARO_BIN_DIR_DEFAULT;
    setenv("VARO_BIN_DIR", bin.c_str(), 1);  // NetSim finds varosim there
    TempDir tmp;
    const std::string prog = tmp.File("prog");
    fs::create_directories(prog);
    std::string modelFile;
    if (!MakeProgramFolder(bin, prog, modelFile)) {
        std::printf("no settings series in %s/ModelsPnP/HD-OVL.xml\n", bin.c_str());
        return 1;
    }
    SetProgramFolder(prog + "/");
    AppStore().SetPath(tmp.File("VaroConfig.ini"));

    const uint32_t ip = IpFromOctets(127, 61 + unsigned(getpid()) % 150, 0, 1);
    NetSim sim({"--tcp", IpToString(ip), "--model", modelFile}, tmp.File("dev.img"));
    if (!sim.Ready()) {
        std::printf("varosim did not start\n");
        return 1;
    }
    AppStore().WriteInt("Main", "Interface", 3);
    AppStore().WriteInt("Main", "ManualIP", 1);
    AppStore().WriteInt("Main", "IP", IpToStored(ip));

    int failures = 0;
    {
        CMainWin w;
        QStringList messages;
        w.messageHook = [&](const QString& t, MsgIcon) { messages << t; };
        w.questionHook = [&](const QString& t, MsgIcon, bool) {
            messages << t;
            return false;
        };
        w.resize(920, 560);
        w.show();
        w.Start();
        if (!WaitUntil([&] { return !w.Ops().Busy() && w.Session().model; }, 20000)) {
            std::printf("no model after connecting (%s)\n", qPrintable(messages.join("|")));
            return 1;
        }

        // The tab whose page is a settings group.
        int groupTab = -1;
        CSettingsPageView* page = nullptr;
        for (int t = 1; t < w.TopTabs()->count() && !page; ++t) {
            w.TopTabs()->setCurrentIndex(t);
            auto* v = qobject_cast<CSettingsPageView*>(w.CurrentPageView());
            if (v && v->Page().Element()->kind == kPnPSettingsGroup) {
                page = v;
                groupTab = t;
            }
            WaitUntil([&] { return !w.Ops().Busy(); }, 20000);
        }
        if (!page) {
            std::printf("no settings group page\n");
            return 1;
        }
        auto* group = static_cast<CPnPGroupSettings*>(page->Page().Element());
        std::vector<std::pair<uint32_t, int>> blocks;
        for (auto& b : group->blocks) blocks.emplace_back(b->address, int(b->blockImage.size()));
        std::printf("\n(a) opening the settings group \"%s\": %zu blocks of %d bytes, %d runs\n",
                    qPrintable(w.TopTabs()->tabText(groupTab)), blocks.size(), blocks.empty() ? 0 : blocks[0].second,
                    runs);
        if (blocks.size() != size_t(kBlocks)) {
            std::printf("  expected %d blocks\n", kBlocks);
            return 1;
        }

        std::vector<double> open;
        for (int r = 0; r < runs; ++r) {
            w.TopTabs()->setCurrentIndex(0);
            QCoreApplication::processEvents();
            const auto t0 = Clock::now();
            w.TopTabs()->setCurrentIndex(groupTab);
            if (!WaitUntil([&] { return !w.Ops().Busy() && page->Page().TreeReady(); }, 20000)) {
                std::printf("  run %d did not finish\n", r);
                return 1;
            }
            open.push_back(Ms(Clock::now() - t0));
        }
        if (!messages.isEmpty()) std::printf("  messages: %s\n", qPrintable(messages.join("|")));
        if (page->Tree()->topLevelItemCount() == 0) std::printf("  the tree stayed empty\n");

        std::vector<double> engine, ping;
        for (int r = 0; r < runs; ++r) {
            engine.push_back(EngineReads(ip, blocks, w.Session().Buffer()));
            ping.push_back(TcpPingPong(kBlocks, 16, size_t(blocks[0].second) + 16));
        }
        const double mo = Median(open), me = Median(engine), mp = Median(ping);
        std::printf("  page open (tab selected -> operation ended): median %.2f ms, min %.2f, max %.2f\n", mo,
                    *std::min_element(open.begin(), open.end()), *std::max_element(open.begin(), open.end()));
        std::printf("  engine alone, %d block reads:                median %.2f ms  (page / engine = %.2f)\n",
                    kBlocks, me, me > 0 ? mo / me : 0);
        std::printf("  plain TCP ping-pong, %d exchanges:           median %.3f ms  (page / ping-pong = %.0f)\n",
                    kBlocks, mp, mp > 0 ? mo / mp : 0);
        std::printf("  goal <= 300 ms: %s\n", mo <= 300 ? "met" : "MISSED");
        failures += mo > 300;

        // (b) A 16 MiB read while the user-interface thread is watched.
        w.TopTabs()->setCurrentIndex(0);
        WaitUntil([&] { return !w.Ops().Busy(); }, 20000);
        messages.clear();
        std::vector<double> timerLate, postedWait;
        std::atomic<bool> watching{true};
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setSingleShot(true);
        auto armed = Clock::now();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            timerLate.push_back(Ms(Clock::now() - armed) - 10.0);
            armed = Clock::now();
            tick.start(10);
        });
        QObject receiver;
        std::thread poster([&] {
            while (watching) {
                const auto sent = Clock::now();
                QMetaObject::invokeMethod(&receiver, [&, sent] { postedWait.push_back(Ms(Clock::now() - sent)); },
                                          Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        RDeviceContext& ctx = w.Session().Context();
        const int size = 0x1000000;
        const auto t0 = Clock::now();
        ctx.ops->Begin(kOpSlotRead, size);
        ctx.engine->StartCommand(size, kCmdRead, 0x000000, ctx.buffer);
        armed = Clock::now();
        tick.start(10);
        const bool ended = WaitUntil([&] { return !w.Ops().Busy(); }, 600000);
        const double total = Ms(Clock::now() - t0);
        tick.stop();
        watching = false;
        poster.join();
        QCoreApplication::processEvents();
        std::printf("\n(b) 16 MiB read over TCP: %s in %.0f ms (%.2f MiB/s)%s%s\n", ended ? "done" : "NOT done", total,
                    16.0 / (total / 1000.0), messages.isEmpty() ? "" : ", messages: ",
                    qPrintable(messages.join("|")));
        const double tMax = timerLate.empty() ? 0 : *std::max_element(timerLate.begin(), timerLate.end());
        const double pMax = postedWait.empty() ? 0 : *std::max_element(postedWait.begin(), postedWait.end());
        std::printf("  10 ms timer, lateness:         %zu samples, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    timerLate.size(), Percentile(timerLate, 50), Percentile(timerLate, 99), tMax);
        std::printf("  posted events, delivery wait:  %zu samples, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    postedWait.size(), Percentile(postedWait, 50), Percentile(postedWait, 99), pMax);
        const bool ok = ended && tMax <= 50 && pMax <= 50;
        std::printf("  goal: no stall longer than 50 ms: %s\n", ok ? "met" : "MISSED");
        failures += !ok;
    }
    return failures ? 2 : 0;
}
