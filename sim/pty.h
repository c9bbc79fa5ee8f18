// A simulated device behind a pseudo-terminal, in real time. See sim.h.
#ifndef QVSIM_PTY_H
#define QVSIM_PTY_H

#include "device.h"

#include <functional>
#include <memory>
#include <string>

namespace qvsim {

// Serves a Device on the master side of a pseudo-terminal pair. A host
// program opens path() like a serial port ("/dev/pts/7") and talks to the
// device with real reads, writes and timeouts.
//
// The device runs on the server's own thread: every Device callback and
// every function scheduled with Link::call_after or post() runs there, one
// at a time. Inspect device state from another thread only through post()
// or after stop() (which joins the thread).
//
// What a pseudo-terminal cannot carry: DTR, RTS and break (Link::lines()
// stays all false and on_line_change is never called) and the modem input
// lines (Link::set_modem_lines does nothing; the host reads none). Data
// bits and parity are not carried either: the kernel keeps a
// pseudo-terminal at 8 data bits without parity whatever the host asks for
// (a host that reads its settings back sees that too). Baud rate, stop
// bits and flow control are visible: whenever host data arrives the server
// compares the terminal's settings with the last ones it saw and, when
// they changed, calls on_configure before on_receive (a configure without
// any following write is therefore not reported). The terminal starts in
// raw mode.
class PtyServer {
public:
    explicit PtyServer(Device &device);
    ~PtyServer(); // stops the server
    PtyServer(const PtyServer &) = delete;
    PtyServer &operator=(const PtyServer &) = delete;

    // Opens the pseudo-terminal, calls Device::on_open on the server thread
    // and starts serving. Returns false (with a message in *error when
    // given) when the terminal or the thread cannot be set up, or when the
    // server was already started.
    bool start(std::string *error = nullptr);

    // Calls Device::on_close, ends the server thread and closes the
    // terminal. A host that still has the slave open then reads end of
    // file or an error. Safe to call more than once.
    void stop();

    // The slave's path for the host to open; empty before start().
    const std::string &path() const;

    // Runs fn on the server thread as soon as possible (thread-safe).
    void post(std::function<void(Link &)> fn);

    // The message of an exception thrown by the device, which ended the
    // serving; empty while all is well. Thread-safe.
    std::string failure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qvsim

#endif
