// Internals of the infrared transport on Linux, shared with its unit tests:
// the kernel's IrDA socket interface, the address of a connection and the
// discovery with replaceable system calls.
#ifndef QV_PLATFORM_IRDA_LINUX_H
#define QV_PLATFORM_IRDA_LINUX_H

#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/irda.h>
#include <libquivelmarine/iterator.h>

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

// The kernel's IrDA socket interface (its <linux/irda.h>, which current
// kernel headers no longer ship). The layouts are the kernel's ABI: the
// assertions below hold on every architecture (all fields are naturally
// aligned 8- and 32-bit values).
namespace qv_irda_kernel {

inline constexpr int address_family = 23; // AF_IRDA
inline constexpr int sol_irlmp = 266;     // SOL_IRLMP: socket option level of IrLMP
inline constexpr int irlmp_enumdevices = 1; // IRLMP_ENUMDEVICES: read the discovery log
inline constexpr unsigned int lsap_max = 0x6F; // highest LSAP a connection may name directly
inline constexpr size_t name_size = 22;        // device name field, not always terminated

#ifdef AF_IRDA
static_assert(address_family == AF_IRDA);
#endif

struct sockaddr_irda {
    sa_family_t sir_family;  // AF_IRDA
    uint8_t sir_lsap_sel;    // LSAP to connect to when sir_name is empty
    uint32_t sir_addr;       // device address
    char sir_name[25];       // service name looked up in the device's IAS
};

struct irda_device_info {
    uint32_t saddr;            // address of the local adapter
    uint32_t daddr;            // address of the device
    char info[name_size];      // device name
    uint8_t charset;           // character set of the name
    uint8_t hints[2];          // service hint bytes
};

struct irda_device_list {
    uint32_t len;              // number of devices in the discovery log
    irda_device_info dev[1];   // as many entries as the buffer holds
};

static_assert(sizeof(sockaddr_irda) == 36);
static_assert(offsetof(sockaddr_irda, sir_family) == 0);
static_assert(offsetof(sockaddr_irda, sir_lsap_sel) == 2);
static_assert(offsetof(sockaddr_irda, sir_addr) == 4);
static_assert(offsetof(sockaddr_irda, sir_name) == 8);

static_assert(sizeof(irda_device_info) == 36);
static_assert(offsetof(irda_device_info, saddr) == 0);
static_assert(offsetof(irda_device_info, daddr) == 4);
static_assert(offsetof(irda_device_info, info) == 8);
static_assert(offsetof(irda_device_info, charset) == 30);
static_assert(offsetof(irda_device_info, hints) == 31);

static_assert(sizeof(irda_device_list) == 40);
static_assert(offsetof(irda_device_list, dev) == 4);

// The discovery log is read into room for this many devices.
inline constexpr size_t max_devices = 16;
inline constexpr size_t list_header_size = offsetof(irda_device_list, dev);
inline constexpr size_t list_buffer_size = list_header_size + max_devices * sizeof(irda_device_info);

} // namespace qv_irda_kernel

// The socket address that connects to the device at address on the service
// access point lsap (at most qv_irda_kernel::lsap_max): the LSAP is given
// directly and the service name left empty, so that the kernel connects to
// it without asking the device's information service.
qv_irda_kernel::sockaddr_irda qv_irda_make_address(unsigned int address, unsigned int lsap);

// The system calls of a discovery. Each returns like the system call it
// stands for (-1 with errno set on failure).
struct qv_irda_discovery_t {
    int (*socket)(int domain, int type, int protocol);
    int (*getsockopt)(int fd, int level, int name, void *value, socklen_t *length);
    int (*close)(int fd);
    unsigned int retry_delay; // milliseconds between two queries of the log
};

// The system's calls, with a delay of 1000 ms.
extern const qv_irda_discovery_t qv_irda_system_discovery;

// qv_irda_iterator_new through the given system calls.
qv_status_t qv_irda_iterator_new(qv_iterator_t **out, qv_context_t *context, const qv_descriptor_t *descriptor,
                                 const qv_irda_discovery_t *system);

#endif
