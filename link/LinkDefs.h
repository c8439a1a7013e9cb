#pragma once
#include <cstdint>

// Result codes of the device link: every transaction, sequence and command ends with one.
enum : int {
    kLinkOk = 0,
    kLinkPortOpen = 1,    // the serial port failed to open
    kLinkWrite = 2,       // writing the request failed
    kLinkNoReply = 3,     // no reply, or fewer bytes than expected
    kLinkBadReply = 4,    // replies arrived but none passed the checks
    kLinkDevice = 5,      // failure, busy too long, size mismatch, verification failed
    kLinkAborted = 6,     // the operator aborted
    kLinkChipUnknown = 8, // flash chip not in the chip table (bus B)
};

// Engine command codes.
enum : int {
    kCmdIdentity = 1,
    kCmdRead = 3,
    kCmdWrite = 4,
    kCmdEraseWrite = 5,
    kCmdErase = 6,
    kCmdBusAddress = 8,
    kCmdStatus = 9,
    kCmdClock = 10,
    kCmdScan = 4096,
};

// Error kinds of a failed block access.
enum : int { kErrNone = 0, kErrReading = 1, kErrWriting = 2, kErrErasing = 3 };

// Protocol numbers chosen from the connection.
enum : int {
    kProtoShort1 = 1,
    kProtoShort2 = 2,
    kProtoBus = 3,
    kProtoBusB = 4,
    kProtoPointB = 5,
    kProtoTcp = 6,
    kProtoUdp = 7,
};

// Addresses from here up are the direct region of the page family.
constexpr uint32_t kDirectRegion = 0xF0000000u;

// How links talk back to their owner (the main window, varoctl, tests). Called on worker
// threads. Progress must return at once (a link reports a step per exchange); its answer is
// the owner's abort request as far as it is known by then. Completions of per-command links
// are blocking, those of long-lived links are queued and must return at once.
class ILinkNotifier {
public:
    virtual ~ILinkNotifier() = default;
    // value: byte offset within the command (a scan: the bus address just probed).
    // A nonzero answer asks the link to abort; the command then ends with kLinkAborted.
    virtual int LinkProgress(int value) = 0;
    // result 0..8; value: bytes read for the identity command of the short and bus links.
    // blocking = true: the worker waits until this returns, so the handler may run the next step.
    virtual void LinkCompleted(int result, int value, bool blocking) = 0;
};
