// Loading a model of 5000 settings nodes (target: at most 20 ms), against the baseline of
// parsing the same file with the XML library alone, in the same run.
#include "model/CPnPModel.h"
#include "model/CPnPSettings.h"

#include <benchmark/benchmark.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
// 50 settings blocks of 100 nodes: headings, lists, flags, scaled sliders and typed values,
// as a large device's settings look.
std::string MakeModel() {
    std::string x = "<?xml version=\"1.0\"?>\n<device><pnp timesync=\"1\">\n";
    for (int b = 0; b < 50; ++b) {
        x += "<settings_block name=\"Block " + std::to_string(b) + "\" name_english=\"Block " + std::to_string(b) +
             "\" group=\"Group " + std::to_string(b / 10) + "\" address=\"0x" + std::to_string(1000 + b) +
             "00\" size=\"512\">\n";
        for (int h = 0; h < 10; ++h) {
            x += " <node name=\"Section " + std::to_string(h) + "\" info=\"Settings of section^" + std::to_string(h) +
                 "\" collapse=\"1\">\n";
            for (int n = 0; n < 9; ++n) {
                switch (n % 4) {
                case 0:
                    x += "  <node name=\"Mode " + std::to_string(n) + "\" address=\"+\" size=\"1\" default=\"1\">"
                         "<list value=\"0\" name=\"Off\"/><list value=\"1\" name=\"On\"/><list value=\"2\" name=\"Auto\"/></node>\n";
                    break;
                case 1:
                    x += "  <node name=\"Level " + std::to_string(n) + "\" address=\"+\" size=\"2\" min=\"-1000\" max=\"1000\""
                         " step=\"5\" default=\"0\" a=\"0.1\" decimals=\"1\" deadzone_max=\"90.0\" info_type=\"1\"/>\n";
                    break;
                case 2:
                    x += "  <node name=\"Options " + std::to_string(n) + "\" address=\"+\" size=\"1\">"
                         "<checkbox mask=\"0x01\" value=\"0x01\" name=\"A\"/><checkbox mask=\"0x06\" value=\"0x02\" name=\"B\"/>"
                         "<checkbox mask=\"0x06\" value=\"0x04\" name=\"C\"/></node>\n";
                    break;
                default:
                    x += "  <node name=\"Label " + std::to_string(n) + "\" address=\"+\" size=\"8\" type=\"asciiz\" default=\"Studio\"/>\n";
                }
            }
            x += " </node>\n";
        }
        x += "</settings_block>\n";
    }
    return x + "</pnp></device>\n";
}

struct ModelFile {
    std::string path;
    ModelFile() {
        char tmpl[] = "/tmp/varo-model-bench-XXXXXX";
        int fd = mkstemp(tmpl);
        path = tmpl;
        std::string text = MakeModel();
        if (fd < 0 || write(fd, text.data(), text.size()) != ssize_t(text.size())) std::abort();
        close(fd);
    }
    ~ModelFile() { unlink(path.c_str()); }
};

const ModelFile& File() {
    static ModelFile f;
    return f;
}

// Baseline: the XML library reading and parsing the file, nothing built from it.
void BM_ParseOnly(benchmark::State& state) {
    for (auto _ : state) {
        TiXmlDocument doc;
        bool ok = doc.LoadFile(File().path.c_str(), TIXML_ENCODING_LEGACY);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_LoadModel5000Nodes(benchmark::State& state) {
    size_t nodes = 0;
    for (auto _ : state) {
        CPnPModel m;
        m.SetProgramFolder("/tmp");
        if (m.Load(File().path) != kPnPLoaded) state.SkipWithError("load failed");
        nodes = 0;
        for (auto& e : m.elements) nodes += static_cast<CPnPSettings*>(e.get())->nodes.size();
    }
    state.counters["nodes"] = double(nodes);
}
BENCHMARK(BM_LoadModel5000Nodes)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
