#pragma once
#include <string>
#include <vector>

// The serial devices this machine has, in the order COM1, COM2 ... take them when the store
// names no port: /dev/serial/by-id/ names first (stable across replugging), then ttyUSB*,
// ttyACM* and the ttyS* whose UART exists (sysfs type not 0), each device once, numbers in
// numeric order.
std::vector<std::string> PresentSerialDevices();
// Tests look at a tree of their own (devRoot for /dev, sysRoot for /sys); "" restores both.
void SetSerialDeviceRoots(const std::string& devRoot, const std::string& sysRoot);

// For a port that failed to open for lack of permission: the line the operator needs, naming
// the group that grants access ("" when the path is not such a case).
std::string PortPermissionHint(const std::string& path);

// The permission line of the last port that failed to open for lack of it, taken once (the
// message of result 1 shows it); a port that opens clears it.
void NotePortOpen(const std::string& path, int error);
std::string TakePortOpenHint();
