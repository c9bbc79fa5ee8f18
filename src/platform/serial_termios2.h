// Access to the complete terminal settings of a Linux tty, speeds included,
// through the kernel's own termios records. The kernel's record definitions
// clash with those of <termios.h>, so this interface uses neutral types and
// its implementation lives in a translation unit of its own.
#ifndef QV_PLATFORM_SERIAL_TERMIOS2_H
#define QV_PLATFORM_SERIAL_TERMIOS2_H

#include <cstdint>
#include <memory>

// A copy of every setting of a terminal (modes, control characters, input
// and output speeds), as found by qv_serial_settings_save.
struct qv_serial_settings_t;

struct qv_serial_settings_deleter {
    void operator()(qv_serial_settings_t *settings) const noexcept;
};
using qv_serial_settings_ptr = std::unique_ptr<qv_serial_settings_t, qv_serial_settings_deleter>;

// Reads every setting of the terminal fd into *out. Returns 0, or an errno
// value (ENOMEM when the copy cannot be allocated).
int qv_serial_settings_save(int fd, qv_serial_settings_ptr *out);

// Writes back settings saved by qv_serial_settings_save, at once. Returns 0
// or an errno value.
int qv_serial_settings_restore(int fd, const qv_serial_settings_t *settings);

// Mode flags and control characters of a terminal. The flag bits and the
// control character indices are those of <termios.h>, which on Linux are the
// kernel's.
struct qv_serial_modes_t {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    unsigned char line = 0;
    unsigned char cc[32] = {};
};

// Applies the modes with an arbitrary baud rate for both directions, in one
// request and at once (the modes' own speed bits are replaced). Returns 0,
// ENOTSUP when the system cannot set arbitrary rates, or an errno value.
int qv_serial_set_modes_with_rate(int fd, const qv_serial_modes_t &modes, uint32_t baudrate);

// Reads the output and input baud rates of the terminal fd as numbers.
// Returns 0, ENOTSUP when the system cannot report them, or an errno value.
int qv_serial_get_rates(int fd, uint32_t *output, uint32_t *input);

#endif
