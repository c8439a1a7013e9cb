#pragma once
#include <cstdint>

// What the operation protocol needs of the command engine. The engine of the link implements
// it; tests use a scripted one.
class IDeviceEngine {
public:
    virtual ~IDeviceEngine() = default;
    // The buffer stays the caller's and must outlive the command.
    virtual void StartCommand(int size, int command, uint32_t address, uint8_t* buffer) = 0;
    virtual int ErrorKind() const = 0;           // 0 none, 1 reading, 2 writing, 3 erasing
    virtual uint32_t ErrorAddress() const = 0;
    virtual uint32_t CommandAddress() const = 0;  // start address of the running command
    virtual int CurrentCommand() const = 0;       // engine command code of the running command
    virtual int Protocol() const = 0;             // 1..7
    // Serial per-command links: true when the port was cut off because I/O hung.
    virtual bool Watchdog() = 0;
};
