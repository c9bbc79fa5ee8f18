// The kernel's termios records, for the settings that the C library's
// termios interface cannot express: arbitrary baud rates and an exact copy
// of a port's settings (an arbitrary rate set by another program included).
// <asm/termbits.h> defines its own struct termios, so <termios.h> must not
// be included here.
#include "serial_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#if defined(TCGETS2) && defined(TCSETS2) && defined(BOTHER)
#define QV_HAVE_TERMIOS2 1
using qv_kernel_termios = struct termios2;
static constexpr unsigned long QV_GET_SETTINGS = TCGETS2;
static constexpr unsigned long QV_SET_SETTINGS = TCSETS2;
#else
#define QV_HAVE_TERMIOS2 0
using qv_kernel_termios = struct termios;
static constexpr unsigned long QV_GET_SETTINGS = TCGETS;
static constexpr unsigned long QV_SET_SETTINGS = TCSETS;
#endif

struct qv_serial_settings_t {
    qv_kernel_termios termios;
};

void qv_serial_settings_deleter::operator()(qv_serial_settings_t *settings) const noexcept
{
    delete settings;
}

int qv_serial_settings_save(int fd, qv_serial_settings_ptr *out)
{
    qv_serial_settings_ptr settings(new (std::nothrow) qv_serial_settings_t());
    if (!settings)
        return ENOMEM;

    if (ioctl(fd, QV_GET_SETTINGS, &settings->termios) != 0)
        return errno;

    *out = std::move(settings);
    return 0;
}

int qv_serial_settings_restore(int fd, const qv_serial_settings_t *settings)
{
    qv_kernel_termios termios = settings->termios;
    if (ioctl(fd, QV_SET_SETTINGS, &termios) != 0)
        return errno;
    return 0;
}

int qv_serial_set_modes_with_rate(int fd, const qv_serial_modes_t &modes, uint32_t baudrate)
{
#if QV_HAVE_TERMIOS2
    struct termios2 termios {};
    if (ioctl(fd, TCGETS2, &termios) != 0)
        return errno;

    termios.c_iflag = modes.iflag;
    termios.c_oflag = modes.oflag;
    termios.c_lflag = modes.lflag;
    termios.c_line = modes.line;
    std::memcpy(termios.c_cc, modes.cc, std::min(sizeof termios.c_cc, sizeof modes.cc));

    // The speed bits of both directions say "rate given as a number".
    termios.c_cflag = modes.cflag;
    termios.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    termios.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    termios.c_ospeed = baudrate;
    termios.c_ispeed = baudrate;

    if (ioctl(fd, TCSETS2, &termios) != 0)
        return errno;
    return 0;
#else
    (void)fd;
    (void)modes;
    (void)baudrate;
    return ENOTSUP;
#endif
}

int qv_serial_get_rates(int fd, uint32_t *output, uint32_t *input)
{
#if QV_HAVE_TERMIOS2
    struct termios2 termios {};
    if (ioctl(fd, TCGETS2, &termios) != 0)
        return errno;
    *output = termios.c_ospeed;
    *input = termios.c_ispeed;
    return 0;
#else
    (void)fd;
    (void)output;
    (void)input;
    return ENOTSUP;
#endif
}
