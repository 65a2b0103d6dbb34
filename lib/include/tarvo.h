/*
 * tarvo: the USB link library of the KVX-300 data logger download program.
 *
 * The library finds the instrument through the device interface that its USB kernel driver
 * registers, and moves bytes through two of its pipes (the link functions, ordinals 11-15).
 * The toolkit functions (ordinals 1-10) give other callers direct use of the device: open and
 * close devices by number, open any pipe, control transfers, descriptors, resets and checks.
 * The discovery functions (ordinals 16-17) list the instruments found and start the link to one
 * of them.
 *
 * Windows: tarvo.dll exports every function under its undecorated name and the ordinal given
 * below; KVX-300 binds TarvoInit, TarvoExit, TarvoSend and TarvoReceive by ordinal.
 * Linux: libtarvo.so exports the same seventeen C names and nothing else.
 *
 * Calling convention: TARVO_CALL. It is __stdcall on 32-bit x86 Windows (the convention of the
 * Windows API, with undecorated export names); on x86-64 Windows and on Linux it is the
 * platform's one C calling convention.
 *
 * The library writes no messages; it reports failures through its results only, and writes
 * trace lines for failed pipe reads and writes and for TarvoReset to the debugger output
 * (Linux: stderr when the environment variable TARVO_TRACE is set and not empty).
 */
#ifndef TARVO_H
#define TARVO_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TARVO_CALL __stdcall
#else
#define TARVO_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Link status codes: the results of TarvoInit, TarvoSend, TarvoReceive and TarvoReset. */
#define LINK_OK 0
#define LINK_RESET_FAILED (-6) /* the device reset request failed (TarvoReset only) */
#define LINK_NOT_OPEN (-7)     /* a pipe transfer failed and the link names no open device */
#define LINK_NO_DEVICE (-8)    /* no instrument could be opened, or it no longer answers */
#define LINK_IO_FAILED (-9)    /* a pipe transfer failed although the device still answers */

/* A device or pipe handle (a Windows HANDLE; on Linux a file descriptor). */
typedef void* TARVO_HANDLE;
#define TARVO_INVALID_HANDLE ((TARVO_HANDLE)(intptr_t)-1)

/* TarvoReceive never moves more than this many bytes; its buffer must hold them. */
#define TARVO_RECEIVE_MAX 512

/* Toolkit, ordinals 1-10. Device numbers are 0-127; -1 means none. Flags: non-zero = success. */
int32_t TARVO_CALL UTK_Open(void);         /* @1 */
void TARVO_CALL UTK_Close(int32_t device); /* @2 */
TARVO_HANDLE TARVO_CALL UTK_OpenPipe(int32_t device, int32_t interfaceNumber,
                                     int32_t pipeNumber); /* @3 */
/* direction: non-zero reads the data stage into buffer, 0 writes buffer to the device.
 * recipient: 0 device, 1 interface, 2 endpoint, 3 other (low 8 bits; others are refused).
 * request (low 8 bits), value and index (low 16 bits), length (low 16 bits) as in USB. */
int32_t TARVO_CALL UTK_ClassRequest(int32_t device, int32_t direction, int32_t recipient,
                                    int32_t request, int32_t value, int32_t index, int32_t length,
                                    void* buffer); /* @4 */
int32_t TARVO_CALL UTK_VendorRequest(int32_t device, int32_t direction, int32_t recipient,
                                     int32_t request, int32_t value, int32_t index, int32_t length,
                                     void* buffer); /* @5 */
/* 0: the device answers; 1: no such open device; 2: the device does not answer. */
int32_t TARVO_CALL UTK_Check(int32_t device);                             /* @6 */
int32_t TARVO_CALL UTK_ResetPipe(TARVO_HANDLE pipe);                      /* @7 */
int32_t TARVO_CALL UTK_ResetDevice(int32_t device);                       /* @8 */
int32_t TARVO_CALL UTK_GetDeviceDescriptor(int32_t device, void* buffer); /* @9, 18 bytes */
int32_t TARVO_CALL UTK_GetConfigurationDescriptor(int32_t device, void* buffer,
                                                  uint32_t size); /* @10 */

/* Link, ordinals 11-15. */
int32_t TARVO_CALL TarvoInit(void);                                /* @11: 0 or -8 */
void TARVO_CALL TarvoExit(void);                                   /* @12 */
int32_t TARVO_CALL TarvoSend(const void* buffer, uint32_t length); /* @13 */
/* buffer holds at least TARVO_RECEIVE_MAX bytes; on success *length is the count received
 * (0: nothing has arrived yet). A receive waits at most one second for the instrument; what
 * comes later is there for the next receive. On failure *length is left at TARVO_RECEIVE_MAX. */
int32_t TARVO_CALL TarvoReceive(void* buffer, uint32_t* length); /* @14 */
int32_t TARVO_CALL TarvoReset(void);                             /* @15: TarvoInit's result or -6 */

/* Discovery, ordinals 16-17. An instrument is named by its device interface path, at most
 * TARVO_DEVICE_PATH_MAX - 1 characters; the link passes over one with a longer path. */
#define TARVO_DEVICE_PATH_MAX 260
/* The index-th instrument found, in the order in which TarvoInit and UTK_Open try them (0
 * first): copies its path into buffer (TARVO_DEVICE_PATH_MAX bytes) and returns the path's
 * length; a path too long for the link gives its length and an empty buffer. -1: no such
 * instrument (the end of the list). */
int32_t TARVO_CALL TarvoDevicePath(uint32_t index, char* buffer); /* @16 */
/* TarvoInit for the one instrument whose path is `path` (exactly as TarvoDevicePath gives it):
 * 0, or -8 when it is not found or does not open. A null path: TarvoInit. TarvoReset starts
 * the link again to the instrument of the last TarvoInitDevice, and after TarvoInit to the
 * first that opens. */
int32_t TARVO_CALL TarvoInitDevice(const char* path); /* @17 */

#ifdef __cplusplus
}
#endif

#endif /* TARVO_H */
