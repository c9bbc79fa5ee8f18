/*
 * libquivelmarine: common types.
 *
 * Every operation of the library returns a qv_status_t. Results come back
 * through out-pointers given first; a missing out-pointer is
 * QV_STATUS_INVALIDARGS. The caller owns every object it creates and releases
 * it with the matching close or free operation.
 *
 * Thread safety: an object (stream, device, parser, iterator) is used by one
 * thread at a time. A context may be shared between threads: its logging is
 * serialised by an internal lock.
 */
#ifndef QV_COMMON_H
#define QV_COMMON_H

#include <stddef.h>
#include <stdint.h>

#if defined(QV_BUILDING_LIBRARY)
#define QV_EXPORT __attribute__((visibility("default")))
#else
#define QV_EXPORT
#endif

#if defined(__GNUC__)
#define QV_ATTR_FORMAT_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define QV_ATTR_FORMAT_PRINTF(a, b)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every operation. */
typedef int32_t qv_status_t;

#define QV_STATUS_SUCCESS      0   /* "Success" */
#define QV_STATUS_DONE         1   /* an iterator has no further item */
#define QV_STATUS_UNSUPPORTED  (-1)  /* "Unsupported operation" */
#define QV_STATUS_INVALIDARGS  (-2)  /* "Invalid arguments" */
#define QV_STATUS_NOMEMORY     (-3)  /* "Out of memory" */
#define QV_STATUS_NODEVICE     (-4)  /* "No device found" */
#define QV_STATUS_NOACCESS     (-5)  /* "Access denied" */
#define QV_STATUS_IO           (-6)  /* "Input/output error" */
#define QV_STATUS_TIMEOUT      (-7)  /* "Timeout" */
#define QV_STATUS_PROTOCOL     (-8)  /* "Protocol error" */
#define QV_STATUS_DATAFORMAT   (-9)  /* "Data format error" */
#define QV_STATUS_CANCELLED    (-10) /* "Cancelled" */

/*
 * Stores error in *status only while *status still holds QV_STATUS_SUCCESS,
 * so that a sequence of clean-up steps reports its first failure.
 * status must not be NULL (checked by an assertion).
 */
QV_EXPORT void qv_status_set_error(qv_status_t *status, qv_status_t error);

/* Transports, as a bit set. */
typedef uint32_t qv_transport_t;

#define QV_TRANSPORT_NONE      0u
#define QV_TRANSPORT_SERIAL    1u
#define QV_TRANSPORT_USB       2u
#define QV_TRANSPORT_USBHID    4u
#define QV_TRANSPORT_IRDA      8u
#define QV_TRANSPORT_BLUETOOTH 16u
#define QV_TRANSPORT_BLE       32u

/* Device family: vendor number in the high 16 bits, index in the low 16 bits. */
typedef uint32_t qv_family_t;

#define QV_FAMILY_NULL                       0u
/* Suunto */
#define QV_FAMILY_SUUNTO_SOLUTION            0x10000u
#define QV_FAMILY_SUUNTO_EON                 0x10001u
#define QV_FAMILY_SUUNTO_VYPER               0x10002u
#define QV_FAMILY_SUUNTO_VYPER2              0x10003u
#define QV_FAMILY_SUUNTO_D9                  0x10004u
#define QV_FAMILY_SUUNTO_EONSTEEL            0x10005u
/* Reefnet */
#define QV_FAMILY_REEFNET_SENSUS             0x20000u
#define QV_FAMILY_REEFNET_SENSUSPRO          0x20001u
#define QV_FAMILY_REEFNET_SENSUSULTRA        0x20002u
/* Uwatec */
#define QV_FAMILY_UWATEC_ALADIN              0x30000u
#define QV_FAMILY_UWATEC_MEMOMOUSE           0x30001u
#define QV_FAMILY_UWATEC_SMART               0x30002u
/* Oceanic and Pelagic */
#define QV_FAMILY_OCEANIC_VTPRO              0x40000u
#define QV_FAMILY_OCEANIC_VEO250             0x40001u
#define QV_FAMILY_OCEANIC_ATOM2              0x40002u
#define QV_FAMILY_PELAGIC_I330R              0x40003u
/* Mares */
#define QV_FAMILY_MARES_NEMO                 0x50000u
#define QV_FAMILY_MARES_PUCK                 0x50001u
#define QV_FAMILY_MARES_DARWIN               0x50002u
#define QV_FAMILY_MARES_ICONHD               0x50003u
/* Heinrichs Weikamp */
#define QV_FAMILY_HW_OSTC                    0x60000u
#define QV_FAMILY_HW_FROG                    0x60001u
#define QV_FAMILY_HW_OSTC3                   0x60002u
/* Cressi */
#define QV_FAMILY_CRESSI_EDY                 0x70000u
#define QV_FAMILY_CRESSI_LEONARDO            0x70001u
#define QV_FAMILY_CRESSI_GOA                 0x70002u
/* Zeagle */
#define QV_FAMILY_ZEAGLE_N2ITION3            0x80000u
/* Atomic Aquatics */
#define QV_FAMILY_ATOMICS_COBALT             0x90000u
/* Shearwater */
#define QV_FAMILY_SHEARWATER_PREDATOR        0xA0000u
#define QV_FAMILY_SHEARWATER_PETREL          0xA0001u
/* Dive Rite */
#define QV_FAMILY_DIVERITE_NITEKQ            0xB0000u
/* Citizen */
#define QV_FAMILY_CITIZEN_AQUALAND           0xC0000u
/* DiveSystem */
#define QV_FAMILY_DIVESYSTEM_IDIVE           0xD0000u
/* Cochran */
#define QV_FAMILY_COCHRAN_COMMANDER          0xE0000u
/* Tecdiving */
#define QV_FAMILY_TECDIVING_DIVECOMPUTEREU   0xF0000u
/* McLean */
#define QV_FAMILY_MCLEAN_EXTREME             0x100000u
/* Liquivision */
#define QV_FAMILY_LIQUIVISION_LYNX           0x110000u
/* Sporasub */
#define QV_FAMILY_SPORASUB_SP2               0x120000u
/* Deep Six */
#define QV_FAMILY_DEEPSIX_EXCURSION          0x130000u
/* Seac */
#define QV_FAMILY_SEAC_SCREEN                0x140000u
/* Deepblu */
#define QV_FAMILY_DEEPBLU_COSMIQ             0x150000u
/* Oceans */
#define QV_FAMILY_OCEANS_S1                  0x160000u
/* Divesoft */
#define QV_FAMILY_DIVESOFT_FREEDOM           0x170000u
/* Halcyon */
#define QV_FAMILY_HALCYON_SYMBIOS            0x180000u

#ifdef __cplusplus
}
#endif

#endif /* QV_COMMON_H */
