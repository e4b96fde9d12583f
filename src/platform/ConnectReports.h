#pragma once

#include <QtGlobal>

namespace kovra {

// Reports the TCP/IP connections this process opens, as they are opened, on whatever
// thread opens them.
//
// Qt's HTTP layer connects its sockets on a thread of its own and never shows them, so
// the only moment such a socket can be learnt, short of listing the process's
// descriptors again and again, is its connect(). This file wraps the C library's
// connect() for the whole process: the call goes through unchanged (to the next
// definition, the C library's or a preloaded one's, with its result and errno), and
// while reports are on, the descriptor of each IPv4 or IPv6 connect() that started or
// succeeded is written to a pipe. The wrapper takes no lock and allocates nothing.
namespace ConnectReports {

// One connect(): its place in the order of the process's reported connects (1, 2, ...)
// and the descriptor.
struct Report {
    quint64 sequence;
    int fd;
};

// Turns reports on and returns the pipe's read end (non-blocking, close-on-exec): one
// Report per connect(), whole. The pipe is made once and kept for the life of the
// process, so a connect() racing stop() never writes into a reused descriptor; the
// caller must not close it. Reports that did not fit in the pipe are lost: overflowed()
// tells.
int start();

// The sequence of the latest report: a connect() reported with a higher one began
// after this call. Its report may reach the pipe a little later than its sequence.
quint64 latest();

// Turns reports off.
void stop();

// Whether a report was lost since the last call (the reader should look for sockets
// by other means).
bool overflowed();

} // namespace ConnectReports

} // namespace kovra
