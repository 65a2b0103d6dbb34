// The Windows backend: SetupAPI finds the driver's device interfaces, device and pipe files are
// opened and used synchronously with the kernel's file calls (a read bounded by a timer that
// cancels it), locks are critical sections, and trace lines go to the debugger output.
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform.h"

namespace tarvo {

namespace {

GUID ToGuid(const InterfaceGuid& guid) {
  GUID result;
  result.Data1 = guid.data1;
  result.Data2 = guid.data2;
  result.Data3 = guid.data3;
  std::memcpy(result.Data4, guid.data4, sizeof result.Data4);
  return result;
}

// The device path of the index-th present interface of the class, copied out of the detail
// record before the device-information set is destroyed.
char* InterfacePathOf(HDEVINFO set, const GUID& guid, DWORD index) {
  SP_DEVICE_INTERFACE_DATA interfaceData;
  interfaceData.cbSize = sizeof interfaceData;
  if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData)) return nullptr;

  DWORD required = 0;
  if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return nullptr;
  }
  // Never less than the record's fixed part, and the path never read past the record's end.
  const DWORD size = std::max<DWORD>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(size));
  if (detail == nullptr) return nullptr;  // Running out of memory is finding no device.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  char* path = nullptr;
  if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, size, nullptr, nullptr)) {
    const std::size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t length = strnlen(detail->DevicePath, room);
    if (length < room) path = static_cast<char*>(std::malloc(length + 1));
    if (path != nullptr) std::memcpy(path, detail->DevicePath, length + 1);
  }
  std::free(detail);
  return path;
}

char* FindInterfacePath(const InterfaceGuid& interfaceGuid, uint32_t index) {
  const GUID guid = ToGuid(interfaceGuid);
  const HDEVINFO set =
      SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return nullptr;
  char* path = InterfacePathOf(set, guid, index);
  SetupDiDestroyDeviceInfoList(set);
  return path;
}

Handle OpenFile(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

void CloseFile(Handle handle) {
  CloseHandle(handle);
}

// How often the watchdog tries again when its cancel found no read yet: the thread may not have
// entered ReadFile when the wait ran out.
constexpr DWORD kCancelRetryMs = 50;

// What the watchdog of one read shares with the reading thread.
struct ReadWatch {
  CRITICAL_SECTION lock;
  HANDLE thread;  // the reading thread, with THREAD_TERMINATE access
  bool reading;   // true only around ReadFile, so that no other I/O of the thread is cancelled
  bool cancelled;
};

VOID CALLBACK CancelOverdueRead(PVOID context, BOOLEAN) {
  auto* watch = static_cast<ReadWatch*>(context);
  EnterCriticalSection(&watch->lock);
  if (watch->reading && !watch->cancelled) {
    watch->cancelled = CancelSynchronousIo(watch->thread) != FALSE;
  }
  LeaveCriticalSection(&watch->lock);
}

bool PlainRead(Handle handle, void* buffer, uint32_t size, uint32_t* transferred) {
  DWORD count = 0;
  const BOOL ok = ReadFile(handle, buffer, size, &count, nullptr);
  *transferred = count;
  return ok != FALSE;
}

// A synchronous read that a device never answers would block for ever; a timer cancels it after
// kReadWaitMs, and the cancelled read reports nothing, as one that finds nothing does.
bool ReadPipe(Handle handle, void* buffer, uint32_t size, uint32_t* transferred) {
  ReadWatch watch;
  watch.thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
  // Without a watchdog the read still works, only unbounded.
  if (watch.thread == nullptr) return PlainRead(handle, buffer, size, transferred);
  InitializeCriticalSection(&watch.lock);
  watch.reading = false;
  watch.cancelled = false;
  HANDLE timer = nullptr;
  if (!CreateTimerQueueTimer(&timer, nullptr, CancelOverdueRead, &watch, kReadWaitMs,
                             kCancelRetryMs, WT_EXECUTEDEFAULT)) {
    DeleteCriticalSection(&watch.lock);
    CloseHandle(watch.thread);
    return PlainRead(handle, buffer, size, transferred);
  }

  EnterCriticalSection(&watch.lock);
  watch.reading = true;
  LeaveCriticalSection(&watch.lock);
  DWORD count = 0;
  const BOOL ok = ReadFile(handle, buffer, size, &count, nullptr);
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  EnterCriticalSection(&watch.lock);
  watch.reading = false;
  const bool cancelled = watch.cancelled;
  LeaveCriticalSection(&watch.lock);

  // INVALID_HANDLE_VALUE: returns only once no callback runs, as `watch` goes with this frame.
  DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
  DeleteCriticalSection(&watch.lock);
  CloseHandle(watch.thread);

  *transferred = count;
  if (ok) return true;
  if (error == ERROR_OPERATION_ABORTED && cancelled) {
    *transferred = 0;
    return true;
  }
  SetLastError(error);
  return false;
}

bool WritePipe(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred) {
  DWORD count = 0;
  const BOOL ok = WriteFile(handle, buffer, size, &count, nullptr);
  *transferred = count;
  return ok != FALSE;
}

bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize) {
  DWORD returned = 0;
  return DeviceIoControl(handle, code, const_cast<void*>(input), inputSize, output, outputSize,
                         &returned, nullptr) != FALSE;
}

CRITICAL_SECTION* CriticalSectionOf(LockStorage* lock) {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(LockStorage::bytes));
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(lock->bytes));
}

void LockInit(LockStorage* lock) {
  InitializeCriticalSection(new (lock->bytes) CRITICAL_SECTION);
}
void LockEnter(LockStorage* lock) {
  EnterCriticalSection(CriticalSectionOf(lock));
}
void LockLeave(LockStorage* lock) {
  LeaveCriticalSection(CriticalSectionOf(lock));
}

void Pause(uint32_t milliseconds) {
  Sleep(milliseconds);
}

void Trace(const char* line) {
  OutputDebugStringA(line);
}

constexpr PlatformOps kWin32Ops = {
    .find_interface_path = FindInterfacePath,
    .open_file = OpenFile,
    .close_handle = CloseFile,
    .read_file = ReadPipe,
    .write_file = WritePipe,
    .control = Control,
    .lock_init = LockInit,
    .lock_enter = LockEnter,
    .lock_leave = LockLeave,
    .pause = Pause,
    .trace = Trace,
};

}  // namespace

const PlatformOps& NativePlatform() {
  return kWin32Ops;
}

}  // namespace tarvo
