#pragma once
#include <functional>
#include <string>
#include <vector>

#include "sim/CSimDevice.h"
#include "sim/CSimFrames.h"
#include "sim/ModuleResponder.h"

// Everything varosim is told on its command line. Front ends and options are added by adding
// a field here and a row to the option table in SimOptions.cpp.
struct RSimOptions {
    std::string pty;
    std::string image;
    SimDialect dialect = SimDialect::PointB;
    std::string chip = "S25FL016K";
    bool chipSet = false;
    std::string model;  // --model: memory initialised from a model file
    std::vector<int> busAddresses;
    std::string signature;
    bool signatureSet = false;
    std::string identity;
    bool identitySet = false;
    int chipId1 = -1, chipId2 = -1;
    int busyMs = 0, acceptMs = 0, reinitSilenceMs = 0;
    std::vector<RSimRange> registers;  // --registers, besides those of --model
    RSimFaults faults;
    uint32_t seed = 1;
    int baud = 0;
    // Network front end: point B over TCP and/or UDP on these addresses (0: off).
    uint32_t tcpIp = 0, udpIp = 0;
    int netPort = 9000;
    int netDelayMs = 0, netCloseAfter = 0;
    // Discovery responder on UDP 9100/9101 (--discovery IP and its options).
    bool discoveryOn = false;
    RModuleSimConfig discovery;
    bool verbose = false;
    bool help = false;
};

struct RSimOption {
    const char* name;  // "--pty"
    const char* arg;   // "PATH", or nullptr for a switch
    const char* help;
    std::function<bool(RSimOptions&, const std::string& value, std::string& error)> apply;
};

// The option table; other front ends append their rows here.
std::vector<RSimOption>& SimOptionTable();
// false with error set on a bad command line.
bool ParseSimOptions(int argc, char** argv, RSimOptions& opts, std::string& error);
std::string SimUsage();
