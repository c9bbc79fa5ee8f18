// Simulated dive computers for the tests and the qvsim tool.
//
// A simulator is the device's side of a backend's protocol, written once as
// a qvsim::Device and run over either of two links:
//
//   qvsim_memstream_open (memstream.h): an in-memory qv_iostream_t on a
//     virtual clock. Deterministic and instant: a backend's 3-second read
//     timeout against a silent device "takes" 3000 virtual milliseconds and
//     no wall time. Use it for the unit tests of a backend.
//   qvsim::PtyServer (pty.h): the device behind a pseudo-terminal in real
//     time, for end-to-end runs of qvtool or of the library's serial
//     transport on the slave path.
//
// Writing a simulator
// -------------------
//   #include "sim.h"
//
//   // Answers "ID?" after 200 ms with a 4-byte identification; echoes every
//   // byte first, like a half-duplex cable.
//   class Example : public qvsim::Device {
//   public:
//       void on_receive(qvsim::Link &link, const uint8_t *data, size_t size) override
//       {
//           link.send(data, size);                       // the cable's echo
//           input_.insert(input_.end(), data, data + size);
//           if (input_.size() >= 3) {                     // a whole command
//               input_.clear();
//               link.send_after(200, {0x01, 0x02, 0x03, 0x04});
//           }
//       }
//   private:
//       std::vector<uint8_t> input_;
//   };
//
// Rules of the road:
//   - on_receive may be handed any split of the host's bytes (a pty
//     delivers what has arrived); keep an input buffer for framed commands.
//   - Link::send queues bytes for the host now; send_after(ms, bytes) and
//     call_after(ms, fn) act later (a slow device, a device that answers
//     in pieces, a periodic beacon). Silence is simply not sending.
//   - Link::lines() and Link::settings() show the host's DTR/RTS/break and
//     its configured baud rate, parity and so on; on_line_change and
//     on_configure report changes (a device that answers only at the right
//     baud rate or after a DTR pulse checks them). set_modem_lines sets
//     what the host reads with qv_iostream_get_lines.
//   - Over a pseudo-terminal DTR, RTS, break and the modem lines do not
//     exist, and data bits and parity always read 8 and none (pty.h): a
//     device that depends on them can only be run on a memory stream.
//
// Driving a backend in a unit test
// --------------------------------
//   Example device;
//   qvsim::Clock clock;
//   qv_iostream_t *stream = nullptr;
//   qvsim_memstream_open(&stream, context, device, clock);  // serial
//   ... open the backend's device on stream, run it, check the results and
//   clock.now() (how long the exchange took in device time) ...
//   qv_iostream_close(stream);
//
// The memory stream goes through the ordinary qv_iostream_* wrappers, so
// the library's INFO traces ("Write: size=3, data=...") appear as with a
// real transport. Pass QV_TRANSPORT_BLE (packets), QV_TRANSPORT_BLUETOOTH
// and so on to get that transport's behaviour (memstream.h lists them).
// Only the stream's sleep moves the virtual clock: code that measures time
// with its own timer sees real time.
//
// Serving a device on a pseudo-terminal
// -------------------------------------
//   Example device;
//   qvsim::PtyServer server(device);
//   std::string error;
//   if (!server.start(&error)) ...;
//   run qvtool (or qv_serial_open) on server.path();
//   server.stop();    // joins the device thread; device state is now safe
//                     // to inspect
#ifndef QVSIM_SIM_H
#define QVSIM_SIM_H

#include "clock.h"
#include "device.h"
#include "memstream.h"
#include "pty.h"

#endif
