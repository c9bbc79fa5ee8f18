// Internals of the serial port transport on POSIX terminals, shared with its
// unit tests: the computation of the terminal modes, the error mapping, the
// seam for modem-control requests and the port enumeration with its roots.
#ifndef QV_PLATFORM_SERIAL_POSIX_H
#define QV_PLATFORM_SERIAL_POSIX_H

#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/serial.h>

#include <termios.h>

// The ioctl request of the serial family (write, 4 bytes, number 0) that a
// serial stream accepts without effect.
inline constexpr unsigned int QV_SERIAL_IOCTL_NOOP = QV_IOCTL(QV_IOCTL_DIR_WRITE, QV_IOCTL_TYPE_SERIAL, 0, 4);

// Maps an errno value of a failed port operation to a status.
qv_status_t qv_serial_status_from_errno(int errcode);

// Turns the terminal modes into raw mode: no input or output processing, no
// echo, no signals, no software flow control, the receiver enabled, modem
// status lines ignored, reads that return as soon as one byte is there.
// Speed, character format and hardware flow control are left as they are.
void qv_serial_modes_make_raw(struct termios *termios);

// Computes the modes for a configure request from the current modes: raw
// mode, then the character size, parity, stop bits, flow control and speed.
// A baud rate the system has a constant for is stored in the modes and
// *custom_rate becomes false; for any other rate the speed bits are left
// alone and *custom_rate becomes true (the rate must then be set as an
// arbitrary rate). Returns QV_STATUS_INVALIDARGS for a baud rate of 0, data
// bits outside 5..8 or an unknown parity, stop bits or flow control value,
// QV_STATUS_UNSUPPORTED for one and a half stop bits; *termios is changed
// only on success.
qv_status_t qv_serial_compute_modes(struct termios *termios, unsigned int baudrate, unsigned int databits,
                                    qv_parity_t parity, qv_stopbits_t stopbits,
                                    qv_flowcontrol_t flowcontrol, bool *custom_rate);

// The function through which a serial stream issues its modem-control
// requests (TIOCMGET, TIOCMBIS, TIOCMBIC, TIOCSBRK, TIOCCBRK): returns 0 or
// -1 with errno set, like ioctl(2). Replaceable so that tests can observe
// and answer the requests that a pseudo-terminal rejects.
using qv_serial_modem_ioctl_t = int (*)(int fd, unsigned long request, void *argument);

// Replaces the modem-control function of a serial stream (nullptr restores
// the system's ioctl). QV_STATUS_INVALIDARGS when iostream is not a serial
// stream.
qv_status_t qv_serial_set_modem_ioctl(qv_iostream_t *iostream, qv_serial_modem_ioctl_t function);

// qv_serial_iterator_new over a given tty class directory (normally
// "/sys/class/tty") and device directory (normally "/dev").
qv_status_t qv_serial_iterator_new_at(qv_iterator_t **out, qv_context_t *context,
                                      const qv_descriptor_t *descriptor, const char *tty_class_dir,
                                      const char *dev_dir);

#endif
