#include "link/eth/SocketWait.h"

#include <sys/socket.h>
#include <sys/time.h>

int SocketWaitFlags(int fd, int waitMs, int& applied) {
    // A time-out of 0 would mean "for ever" to the socket; no wait means not blocking.
    if (waitMs <= 0) return MSG_DONTWAIT;
    if (waitMs != applied) {
        timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
            return MSG_DONTWAIT;  // never block without a limit
        applied = waitMs;
    }
    return 0;
}
