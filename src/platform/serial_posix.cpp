// The serial port transport on POSIX terminals (Linux): a qv_iostream_t on
// a tty opened without blocking, waits done with poll(2), line settings with
// termios (arbitrary rates through serial_termios2.cpp), and the port list
// from sysfs.
#include "serial_posix.h"
#include "serial_termios2.h"

#include "context-private.h"
#include "iostream-private.h"
#include "iterator-private.h"
#include "platform.h"
#include "platform/wait_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// A port handed out by the enumeration.
struct qv_serial_device_t {
    char name[256];
};

namespace {

int system_ioctl(int fd, unsigned long request, void *argument)
{
    return ioctl(fd, request, argument);
}

struct qv_serial_t final : qv_iostream_t {
    int fd = -1;
    bool locked = false;    // flock held
    bool exclusive = false; // TIOCEXCL set
    qv_serial_settings_ptr saved; // the settings found at open
    int timeout = -1;             // milliseconds, negative: without limit
    bool warned_no_modem = false;
    qv_serial_modem_ioctl_t modem_ioctl = system_ioctl;

    qv_serial_t() = default;
    qv_serial_t(const qv_serial_t &) = delete;
    qv_serial_t &operator=(const qv_serial_t &) = delete;

    // Releases the port of an open that failed half-way (close releases it
    // itself and leaves fd at -1).
    ~qv_serial_t() override
    {
        if (fd < 0)
            return;
        if (exclusive)
            ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
};

qv_status_t qv_serial_set_timeout(qv_iostream_t *iostream, int timeout);
qv_status_t qv_serial_set_break(qv_iostream_t *iostream, unsigned int value);
qv_status_t qv_serial_set_dtr(qv_iostream_t *iostream, unsigned int value);
qv_status_t qv_serial_set_rts(qv_iostream_t *iostream, unsigned int value);
qv_status_t qv_serial_get_lines(qv_iostream_t *iostream, unsigned int *value);
qv_status_t qv_serial_get_available(qv_iostream_t *iostream, size_t *value);
qv_status_t qv_serial_configure(qv_iostream_t *iostream, unsigned int baudrate, unsigned int databits,
                                qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol);
qv_status_t qv_serial_poll(qv_iostream_t *iostream, int timeout);
qv_status_t qv_serial_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual);
qv_status_t qv_serial_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual);
qv_status_t qv_serial_ioctl(qv_iostream_t *iostream, unsigned int request, void *data, size_t size);
qv_status_t qv_serial_flush(qv_iostream_t *iostream);
qv_status_t qv_serial_purge(qv_iostream_t *iostream, qv_direction_t direction);
qv_status_t qv_serial_sleep(qv_iostream_t *iostream, unsigned int milliseconds);
qv_status_t qv_serial_close(qv_iostream_t *iostream);

const qv_iostream_vtable_t qv_serial_vtable = {
    sizeof(qv_serial_t),
    qv_serial_set_timeout,
    qv_serial_set_break,
    qv_serial_set_dtr,
    qv_serial_set_rts,
    qv_serial_get_lines,
    qv_serial_get_available,
    qv_serial_configure,
    qv_serial_poll,
    qv_serial_read,
    qv_serial_write,
    qv_serial_ioctl,
    qv_serial_flush,
    qv_serial_purge,
    qv_serial_sleep,
    qv_serial_close,
};

// Logs the system's text for errcode at ERROR, on behalf of the calling
// operation, and maps it to a status. errcode is evaluated once, before
// logging can change errno.
qv_status_t serial_syserror(qv_context_t *context, const char *file, unsigned int line, const char *function,
                            int errcode)
{
    qv_context_syserror(context, QV_LOGLEVEL_ERROR, file, line, function, errcode);
    return qv_serial_status_from_errno(errcode);
}

#define QV_SERIAL_SYSERROR(context, errcode) serial_syserror((context), __FILE__, __LINE__, __func__, (errcode))

// The standard rates that termios has constants for.
struct qv_serial_rate_t {
    unsigned int baudrate;
    speed_t speed;
};

constexpr qv_serial_rate_t qv_serial_rates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

qv_serial_t *serial_cast(qv_iostream_t *iostream)
{
    return static_cast<qv_serial_t *>(iostream);
}

// Issues a modem-control request. Returns 0 when done, or the errno value.
// A port without modem-control lines counts as done: that is reported once
// per stream, and *absent becomes true.
int modem_request(qv_serial_t *serial, unsigned long request, void *argument, bool *absent)
{
    *absent = false;
    if (serial->modem_ioctl(serial->fd, request, argument) == 0)
        return 0;

    int errcode = errno;
    if (errcode == ENOTTY || errcode == EINVAL) {
        if (!serial->warned_no_modem) {
            QV_WARNING(serial->context,
                       "The port has no modem control lines: DTR, RTS and break have no effect.");
            serial->warned_no_modem = true;
        }
        *absent = true;
        return 0;
    }
    return errcode;
}

// Raises (value non-zero) or lowers the modem output lines of the bit set.
int set_modem_lines(qv_serial_t *serial, int lines, unsigned int value)
{
    bool absent = false;
    return modem_request(serial, value ? TIOCMBIS : TIOCMBIC, &lines, &absent);
}

qv_status_t qv_serial_set_timeout(qv_iostream_t *iostream, int timeout)
{
    serial_cast(iostream)->timeout = timeout;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_set_break(qv_iostream_t *iostream, unsigned int value)
{
    qv_serial_t *serial = serial_cast(iostream);

    bool absent = false;
    int errcode = modem_request(serial, value ? TIOCSBRK : TIOCCBRK, nullptr, &absent);
    if (errcode != 0)
        return QV_SERIAL_SYSERROR(serial->context, errcode);
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_set_dtr(qv_iostream_t *iostream, unsigned int value)
{
    qv_serial_t *serial = serial_cast(iostream);

    int errcode = set_modem_lines(serial, TIOCM_DTR, value);
    if (errcode != 0)
        return QV_SERIAL_SYSERROR(serial->context, errcode);
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_set_rts(qv_iostream_t *iostream, unsigned int value)
{
    qv_serial_t *serial = serial_cast(iostream);

    int errcode = set_modem_lines(serial, TIOCM_RTS, value);
    if (errcode != 0)
        return QV_SERIAL_SYSERROR(serial->context, errcode);
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_get_lines(qv_iostream_t *iostream, unsigned int *value)
{
    qv_serial_t *serial = serial_cast(iostream);

    int bits = 0;
    bool absent = false;
    int errcode = modem_request(serial, TIOCMGET, &bits, &absent);
    if (errcode != 0)
        return QV_SERIAL_SYSERROR(serial->context, errcode);
    if (absent)
        bits = 0;

    unsigned int lines = 0;
    if (bits & TIOCM_CAR)
        lines |= QV_LINE_CD;
    if (bits & TIOCM_CTS)
        lines |= QV_LINE_CTS;
    if (bits & TIOCM_DSR)
        lines |= QV_LINE_DSR;
    if (bits & TIOCM_RNG)
        lines |= QV_LINE_RNG;

    *value = lines;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_get_available(qv_iostream_t *iostream, size_t *value)
{
    qv_serial_t *serial = serial_cast(iostream);

    int count = 0;
    if (ioctl(serial->fd, FIONREAD, &count) != 0)
        return QV_SERIAL_SYSERROR(serial->context, errno);

    *value = count > 0 ? static_cast<size_t>(count) : 0;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_configure(qv_iostream_t *iostream, unsigned int baudrate, unsigned int databits,
                                qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol)
{
    qv_serial_t *serial = serial_cast(iostream);

    struct termios termios {};
    if (tcgetattr(serial->fd, &termios) != 0)
        return QV_SERIAL_SYSERROR(serial->context, errno);

    bool custom_rate = false;
    qv_status_t status =
        qv_serial_compute_modes(&termios, baudrate, databits, parity, stopbits, flowcontrol, &custom_rate);
    if (status == QV_STATUS_UNSUPPORTED) {
        QV_ERROR(serial->context, "One and a half stop bits are not supported.");
        return status;
    }
    if (status != QV_STATUS_SUCCESS)
        return status;

    if (custom_rate) {
        qv_serial_modes_t modes;
        modes.iflag = termios.c_iflag;
        modes.oflag = termios.c_oflag;
        modes.cflag = termios.c_cflag;
        modes.lflag = termios.c_lflag;
        modes.line = termios.c_line;
        static_assert(sizeof modes.cc >= sizeof termios.c_cc);
        std::memcpy(modes.cc, termios.c_cc, sizeof termios.c_cc);

        int errcode = qv_serial_set_modes_with_rate(serial->fd, modes, baudrate);
        if (errcode == ENOTSUP) {
            QV_ERROR(serial->context, "The baud rate %u is not supported.", baudrate);
            return QV_STATUS_UNSUPPORTED;
        }
        if (errcode != 0)
            return QV_SERIAL_SYSERROR(serial->context, errcode);
    } else {
        if (tcsetattr(serial->fd, TCSANOW, &termios) != 0)
            return QV_SERIAL_SYSERROR(serial->context, errno);
    }

    // Without hardware flow control both output lines are raised, as a
    // port that is not handshaking has them.
    if (flowcontrol != QV_FLOWCONTROL_HARDWARE) {
        int errcode = set_modem_lines(serial, TIOCM_DTR | TIOCM_RTS, 1);
        if (errcode != 0)
            return QV_SERIAL_SYSERROR(serial->context, errcode);
    }

    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_poll(qv_iostream_t *iostream, int timeout)
{
    qv_serial_t *serial = serial_cast(iostream);

    int errcode = 0;
    switch (qv_wait_ready(serial->fd, POLLIN, timeout, qv_hangup_t::failed, &errcode)) {
    case qv_wait_t::ready:
        return QV_STATUS_SUCCESS;
    case qv_wait_t::timeout:
        return QV_STATUS_TIMEOUT;
    case qv_wait_t::failed:
        break;
    }
    return QV_SERIAL_SYSERROR(serial->context, errcode);
}

qv_status_t qv_serial_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual)
{
    qv_serial_t *serial = serial_cast(iostream);
    unsigned char *buffer = static_cast<unsigned char *>(data);

    // The timeout bounds the whole request: one deadline for every wait.
    const int timeout = serial->timeout;
    const auto deadline = qv_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);

    qv_status_t status = QV_STATUS_SUCCESS;
    size_t nbytes = 0;
    while (nbytes < size) {
        ssize_t n = ::read(serial->fd, buffer + nbytes, size - nbytes);
        if (n > 0) {
            nbytes += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            // A terminal in raw mode with a one-byte minimum reads nothing
            // only when the line was hung up.
            QV_ERROR(serial->context, "The port was disconnected.");
            status = QV_STATUS_IO;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            status = QV_SERIAL_SYSERROR(serial->context, errno);
            break;
        }

        // Nothing buffered: wait for more within the time that is left.
        int wait = timeout < 0 ? -1 : qv_remaining_ms(deadline);
        if (wait == 0) {
            status = QV_STATUS_TIMEOUT;
            break;
        }
        int errcode = 0;
        qv_wait_t result = qv_wait_ready(serial->fd, POLLIN, wait, qv_hangup_t::failed, &errcode);
        if (result == qv_wait_t::failed) {
            status = QV_SERIAL_SYSERROR(serial->context, errcode);
            break;
        }
        // On a timeout the loop reads once more and then stops (wait == 0).
    }

    *actual = nbytes;
    return status;
}

qv_status_t qv_serial_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual)
{
    qv_serial_t *serial = serial_cast(iostream);
    const unsigned char *buffer = static_cast<const unsigned char *>(data);

    qv_status_t status = QV_STATUS_SUCCESS;
    size_t nbytes = 0;
    while (nbytes < size) {
        ssize_t n = ::write(serial->fd, buffer + nbytes, size - nbytes);
        if (n > 0) {
            nbytes += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            status = QV_SERIAL_SYSERROR(serial->context, errno);
            break;
        }

        // The output queue is full: wait until the port takes more. A port
        // that takes nothing for a whole (positive) timeout is given up.
        int wait = serial->timeout > 0 ? serial->timeout : -1;
        int errcode = 0;
        qv_wait_t result = qv_wait_ready(serial->fd, POLLOUT, wait, qv_hangup_t::failed, &errcode);
        if (result == qv_wait_t::timeout) {
            status = QV_STATUS_TIMEOUT;
            break;
        }
        if (result == qv_wait_t::failed) {
            status = QV_SERIAL_SYSERROR(serial->context, errcode);
            break;
        }
    }

    *actual = nbytes;
    return status;
}

qv_status_t qv_serial_ioctl(qv_iostream_t *iostream, unsigned int request, void *data, size_t size)
{
    if (request == QV_SERIAL_IOCTL_NOOP)
        return QV_STATUS_SUCCESS;
    return QV_STATUS_UNSUPPORTED;
}

qv_status_t qv_serial_flush(qv_iostream_t *iostream)
{
    qv_serial_t *serial = serial_cast(iostream);

    while (tcdrain(serial->fd) != 0) {
        if (errno != EINTR)
            return QV_SERIAL_SYSERROR(serial->context, errno);
    }
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_purge(qv_iostream_t *iostream, qv_direction_t direction)
{
    qv_serial_t *serial = serial_cast(iostream);

    int queue = 0;
    switch (direction) {
    case QV_DIRECTION_INPUT:
        queue = TCIFLUSH;
        break;
    case QV_DIRECTION_OUTPUT:
        queue = TCOFLUSH;
        break;
    case QV_DIRECTION_ALL:
        queue = TCIOFLUSH;
        break;
    default:
        return QV_STATUS_INVALIDARGS;
    }

    if (tcflush(serial->fd, queue) != 0)
        return QV_SERIAL_SYSERROR(serial->context, errno);
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_sleep(qv_iostream_t *iostream, unsigned int milliseconds)
{
    qv_status_t status = qv_platform_sleep(milliseconds);
    if (status != QV_STATUS_SUCCESS)
        QV_ERROR(iostream->context, "Failed to sleep.");
    return status;
}

qv_status_t qv_serial_close(qv_iostream_t *iostream)
{
    qv_serial_t *serial = serial_cast(iostream);
    qv_status_t status = QV_STATUS_SUCCESS;

    if (serial->saved) {
        int errcode = qv_serial_settings_restore(serial->fd, serial->saved.get());
        if (errcode != 0)
            qv_status_set_error(&status, QV_SERIAL_SYSERROR(serial->context, errcode));
    }

    if (serial->exclusive && ioctl(serial->fd, TIOCNXCL) != 0)
        qv_status_set_error(&status, QV_SERIAL_SYSERROR(serial->context, errno));
    serial->exclusive = false;

    if (serial->locked && flock(serial->fd, LOCK_UN) != 0)
        qv_status_set_error(&status, QV_SERIAL_SYSERROR(serial->context, errno));
    serial->locked = false;

    // The descriptor is released even when close reports an error.
    int fd = serial->fd;
    serial->fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        qv_status_set_error(&status, QV_SERIAL_SYSERROR(serial->context, errno));

    return status;
}

// The device path for a port name: absolute paths and paths relative to the
// working directory stay as they are, anything else is a name under /dev.
std::string port_path(const char *name)
{
    std::string_view view(name);
    if (view.starts_with('/') || view.starts_with("./") || view.starts_with("../"))
        return std::string(view);
    return "/dev/" + std::string(view);
}

// Serial port enumeration.

struct qv_serial_iterator_t final : qv_iterator_t {
    const qv_descriptor_t *descriptor = nullptr;
    std::vector<std::string> ports; // device paths, sorted
    size_t index = 0;
};

qv_status_t qv_serial_iterator_next(qv_iterator_t *iterator, void *item);

const qv_iterator_vtable_t qv_serial_iterator_vtable = {
    sizeof(qv_serial_iterator_t),
    qv_serial_iterator_next,
    nullptr,
};

// Orders names so that numbers compare by value: ttyS2 before ttyS10.
bool natural_less(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && a[ei] == '0')
                ++ei;
            while (ej < b.size() && b[ej] == '0')
                ++ej;
            size_t ni = ei, nj = ej;
            while (ni < a.size() && digit(a[ni]))
                ++ni;
            while (nj < b.size() && digit(b[nj]))
                ++nj;
            if (ni - ei != nj - ej)
                return ni - ei < nj - ej;
            int c = a.compare(ei, ni - ei, b, ej, nj - ej);
            if (c != 0)
                return c < 0;
            i = ni;
            j = nj;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // equal by value (leading zeros): keep a total order
}

// Whether the tty class entry is a serial port with something behind it.
bool is_serial_port(const std::filesystem::path &entry, const std::string &name)
{
    std::error_code ec;

    // Bluetooth RFCOMM ttys are bound to a remote device, not to local
    // hardware, and have a device link only while connected.
    if (name.starts_with("rfcomm"))
        return true;

    // Virtual consoles, pseudo-terminal multiplexers and the like have no
    // device behind them.
    if (!std::filesystem::exists(entry / "device", ec))
        return false;

    // Ports of the serial core report their UART type; 0 means that the
    // driver reserved the port but found no UART there (legacy 8250 slots).
    std::ifstream type(entry / "type");
    if (type) {
        long value = -1;
        if (type >> value && value == 0)
            return false;
    }
    return true;
}

// Collects the device paths of the serial ports, sorted. Returns the error
// that stopped the listing, if any (none for a missing tty class: a
// machine without one has no serial ports).
std::error_code list_ports(const char *tty_class_dir, const char *dev_dir, std::vector<std::string> *ports)
{
    namespace fs = std::filesystem;

    std::error_code ec;
    fs::directory_iterator it(tty_class_dir, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return {};
        return ec;
    }

    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            return ec;

        std::string name = it->path().filename().string();
        if (!is_serial_port(it->path(), name))
            continue;

        // Device names with a directory part appear in sysfs with '!' for '/'.
        std::replace(name.begin(), name.end(), '!', '/');
        fs::path node = fs::path(dev_dir) / name;
        std::error_code missing;
        if (!fs::exists(node, missing))
            continue; // no device node: nothing to open

        ports->push_back(node.string());
    }
    if (ec)
        return ec;

    std::sort(ports->begin(), ports->end(), natural_less);
    return {};
}

qv_status_t qv_serial_iterator_next(qv_iterator_t *abstract, void *out)
{
    qv_serial_iterator_t *iterator = static_cast<qv_serial_iterator_t *>(abstract);

    while (iterator->index < iterator->ports.size()) {
        const std::string &path = iterator->ports[iterator->index++];
        if (!qv_descriptor_filter(iterator->descriptor, QV_TRANSPORT_SERIAL, path.c_str()))
            continue;

        if (path.size() >= sizeof(qv_serial_device_t::name)) {
            QV_ERROR(iterator->context, "The port name %s is too long.", path.c_str());
            return QV_STATUS_NOMEMORY;
        }

        qv_serial_device_t *device = new (std::nothrow) qv_serial_device_t();
        if (device == nullptr) {
            QV_ERROR(iterator->context, "Failed to allocate memory.");
            return QV_STATUS_NOMEMORY;
        }
        std::memcpy(device->name, path.c_str(), path.size() + 1);

        *static_cast<qv_serial_device_t **>(out) = device;
        return QV_STATUS_SUCCESS;
    }

    return QV_STATUS_DONE;
}

} // namespace

qv_status_t qv_serial_status_from_errno(int errcode)
{
    switch (errcode) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QV_STATUS_NODEVICE;
    case EACCES:
    case EPERM:
    case EBUSY:
        return QV_STATUS_NOACCESS;
    case ENOMEM:
        return QV_STATUS_NOMEMORY;
    case EINVAL:
        return QV_STATUS_INVALIDARGS;
    default:
        return QV_STATUS_IO;
    }
}

void qv_serial_modes_make_raw(struct termios *termios)
{
    // Input: no break or parity marking, no stripping, no CR/NL translation,
    // no XON/XOFF characters taken out of the data. Received bytes are
    // delivered as they arrive, also with a parity error.
    termios->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                               IGNCR | ICRNL | IXON | IXOFF | IXANY | IMAXBEL | IUCLC);
    termios->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    termios->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH |
                                               TOSTOP);
    termios->c_cflag |= CREAD | CLOCAL;

    // With the port non-blocking, a one-byte minimum makes an empty read
    // fail with EAGAIN, so that a zero-byte read only means a hang-up.
    termios->c_cc[VMIN] = 1;
    termios->c_cc[VTIME] = 0;
}

qv_status_t qv_serial_compute_modes(struct termios *termios, unsigned int baudrate, unsigned int databits,
                                    qv_parity_t parity, qv_stopbits_t stopbits,
                                    qv_flowcontrol_t flowcontrol, bool *custom_rate)
{
    // Check everything before changing anything.
    if (baudrate == 0)
        return QV_STATUS_INVALIDARGS;

    tcflag_t size = 0;
    switch (databits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return QV_STATUS_INVALIDARGS;
    }

    tcflag_t parity_flags = 0;
    switch (parity) {
    case QV_PARITY_NONE:
        break;
    case QV_PARITY_ODD:
        parity_flags = PARENB | PARODD;
        break;
    case QV_PARITY_EVEN:
        parity_flags = PARENB;
        break;
    case QV_PARITY_MARK:
        parity_flags = PARENB | CMSPAR | PARODD;
        break;
    case QV_PARITY_SPACE:
        parity_flags = PARENB | CMSPAR;
        break;
    default:
        return QV_STATUS_INVALIDARGS;
    }

    tcflag_t stop_flags = 0;
    switch (stopbits) {
    case QV_STOPBITS_ONE:
        break;
    case QV_STOPBITS_TWO:
        stop_flags = CSTOPB;
        break;
    case QV_STOPBITS_ONEPOINTFIVE:
        return QV_STATUS_UNSUPPORTED;
    default:
        return QV_STATUS_INVALIDARGS;
    }

    tcflag_t cflow = 0, iflow = 0;
    switch (flowcontrol) {
    case QV_FLOWCONTROL_NONE:
        break;
    case QV_FLOWCONTROL_HARDWARE:
        cflow = CRTSCTS;
        break;
    case QV_FLOWCONTROL_SOFTWARE:
        iflow = IXON | IXOFF;
        break;
    default:
        return QV_STATUS_INVALIDARGS;
    }

    const speed_t *speed = nullptr;
    for (const auto &rate : qv_serial_rates) {
        if (rate.baudrate == baudrate) {
            speed = &rate.speed;
            break;
        }
    }

    struct termios result = *termios;
    qv_serial_modes_make_raw(&result);

    result.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    result.c_cflag |= size | parity_flags | stop_flags | cflow;
    result.c_iflag |= iflow;
    if (iflow != 0) {
        result.c_cc[VSTART] = 0x11; // XON
        result.c_cc[VSTOP] = 0x13;  // XOFF
    }

    if (speed != nullptr) {
        if (cfsetospeed(&result, *speed) != 0 || cfsetispeed(&result, *speed) != 0)
            return QV_STATUS_INVALIDARGS;
        // The input rate follows the output rate (an input rate left over
        // from an arbitrary rate would split the two directions).
        result.c_cflag &= ~static_cast<tcflag_t>(CIBAUD);
    }

    *termios = result;
    *custom_rate = speed == nullptr;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_set_modem_ioctl(qv_iostream_t *iostream, qv_serial_modem_ioctl_t function)
{
    if (!qv_iostream_isinstance(iostream, &qv_serial_vtable))
        return QV_STATUS_INVALIDARGS;

    serial_cast(iostream)->modem_ioctl = function != nullptr ? function : system_ioctl;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_iterator_new_at(qv_iterator_t **out, qv_context_t *context,
                                      const qv_descriptor_t *descriptor, const char *tty_class_dir,
                                      const char *dev_dir)
{
    if (out == nullptr || tty_class_dir == nullptr || dev_dir == nullptr)
        return QV_STATUS_INVALIDARGS;

    qv_serial_iterator_t *iterator = qv_iterator_allocate<qv_serial_iterator_t>(context, &qv_serial_iterator_vtable);
    if (iterator == nullptr)
        return QV_STATUS_NOMEMORY;
    iterator->descriptor = descriptor;

    qv_status_t status = QV_STATUS_SUCCESS;
    try {
        std::error_code ec = list_ports(tty_class_dir, dev_dir, &iterator->ports);
        if (ec)
            status = QV_SERIAL_SYSERROR(context, ec.value());
    } catch (const std::bad_alloc &) {
        QV_ERROR(context, "Failed to allocate memory.");
        status = QV_STATUS_NOMEMORY;
    } catch (const std::exception &e) {
        QV_ERROR(context, "Failed to list the serial ports: %s.", e.what());
        status = QV_STATUS_IO;
    }
    if (status != QV_STATUS_SUCCESS) {
        qv_iterator_deallocate(iterator);
        return status;
    }

    *out = iterator;
    return QV_STATUS_SUCCESS;
}

extern "C" {

qv_status_t qv_serial_open(qv_iostream_t **out, qv_context_t *context, const char *name)
{
    if (out == nullptr || name == nullptr)
        return QV_STATUS_INVALIDARGS;

    QV_INFO(context, "Open: name=%s", name);

    if (name[0] == '\0') {
        QV_ERROR(context, "No serial port name given.");
        return QV_STATUS_INVALIDARGS;
    }

    std::string path;
    try {
        path = port_path(name);
    } catch (const std::bad_alloc &) {
        QV_SYSERROR(context, ENOMEM);
        return QV_STATUS_NOMEMORY;
    }

    qv_serial_t *serial = qv_iostream_allocate<qv_serial_t>(context, &qv_serial_vtable, QV_TRANSPORT_SERIAL);
    if (serial == nullptr)
        return QV_STATUS_NOMEMORY;

    // On failure the record's destructor releases whatever was acquired.
    auto fail = [serial](qv_status_t status) {
        qv_iostream_deallocate(serial);
        return status;
    };

    serial->fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (serial->fd < 0) {
        int errcode = errno;
        QV_SYSERROR(context, errcode);
        if (errcode == EBUSY)
            QV_ERROR(context, "The port %s is in use by another program.", path.c_str());
        return fail(qv_serial_status_from_errno(errcode));
    }

    // The lock keeps out every cooperating program (root included, which
    // passes over the terminal's exclusive mode); the exclusive mode keeps
    // out the others.
    if (flock(serial->fd, LOCK_EX | LOCK_NB) != 0) {
        int errcode = errno;
        QV_SYSERROR(context, errcode);
        if (errcode == EWOULDBLOCK) {
            QV_ERROR(context, "The port %s is in use by another program.", path.c_str());
            return fail(QV_STATUS_NOACCESS);
        }
        return fail(qv_serial_status_from_errno(errcode));
    }
    serial->locked = true;

    if (ioctl(serial->fd, TIOCEXCL) != 0) {
        int errcode = errno;
        QV_SYSERROR(context, errcode);
        if (errcode == ENOTTY)
            QV_ERROR(context, "%s is not a serial port.", path.c_str());
        return fail(qv_serial_status_from_errno(errcode));
    }
    serial->exclusive = true;

    int errcode = qv_serial_settings_save(serial->fd, &serial->saved);
    if (errcode != 0)
        return fail(QV_SERIAL_SYSERROR(context, errcode));

    // Raw mode from the start: a terminal that echoes, edits lines or takes
    // out flow-control characters would alter the traffic before the line
    // is configured.
    struct termios termios {};
    if (tcgetattr(serial->fd, &termios) != 0)
        return fail(QV_SERIAL_SYSERROR(context, errno));
    qv_serial_modes_make_raw(&termios);
    if (tcsetattr(serial->fd, TCSANOW, &termios) != 0)
        return fail(QV_SERIAL_SYSERROR(context, errno));

    serial->timeout = -1;
    *out = serial;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_serial_iterator_new(qv_iterator_t **out, qv_context_t *context, const qv_descriptor_t *descriptor)
{
    return qv_serial_iterator_new_at(out, context, descriptor, "/sys/class/tty", "/dev");
}

const char *qv_serial_device_get_name(const qv_serial_device_t *device)
{
    if (device == nullptr)
        return nullptr;

    return device->name[0] != '\0' ? device->name : nullptr;
}

void qv_serial_device_free(qv_serial_device_t *device)
{
    delete device;
}

} // extern "C"
