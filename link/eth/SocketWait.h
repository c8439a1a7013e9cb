#pragma once

// The device transports' sockets block, with the transport's wait as their time-out: one
// system call per send or receive instead of a poll before each (the poll cost as much as
// the receive). Returns the flags for the next send or receive on fd; applied holds the
// time-out set on fd so far (-1: none yet).
int SocketWaitFlags(int fd, int waitMs, int& applied);
