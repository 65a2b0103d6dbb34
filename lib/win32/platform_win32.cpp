// The Windows backend: SetupAPI finds the driver's device interfaces, device and pipe files are
// opened and used synchronously with the kernel's file calls (each bounded by a timer that
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

// How often the watchdog tries again when its cancel found no call yet: the thread may not
// have entered it when the wait ran out.
constexpr DWORD kCancelRetryMs = 50;
// The longest a write or a control request may take before it is cancelled and fails: a
// device that takes nothing for so long is not answering.
constexpr DWORD kTransferWaitMs = 5000;

// What the watchdog of one call shares with the calling thread.
struct CallWatch {
  CRITICAL_SECTION lock;
  HANDLE thread;  // the calling thread, with THREAD_TERMINATE access
  bool calling;   // true only around the call, so that no other I/O of the thread is cancelled
  bool cancelled;
};

VOID CALLBACK CancelOverdueCall(PVOID context, BOOLEAN) {
  auto* watch = static_cast<CallWatch*>(context);
  EnterCriticalSection(&watch->lock);
  if (watch->calling && !watch->cancelled) {
    watch->cancelled = CancelSynchronousIo(watch->thread) != FALSE;
  }
  LeaveCriticalSection(&watch->lock);
}

// Makes one synchronous I/O call of this thread, which a timer cancels when it has not returned
// after `waitMs`: a device that never answers would otherwise block it for ever. Gives the
// call's result and last error; `*cancelled` tells whether the timer ended it. Should no timer
// be had, the call is made all the same, unbounded.
template <typename Call>
BOOL CallWithin(DWORD waitMs, bool* cancelled, Call call) {
  *cancelled = false;
  CallWatch watch;
  watch.thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
  if (watch.thread == nullptr) return call();
  InitializeCriticalSection(&watch.lock);
  watch.calling = false;
  watch.cancelled = false;
  HANDLE timer = nullptr;
  if (!CreateTimerQueueTimer(&timer, nullptr, CancelOverdueCall, &watch, waitMs, kCancelRetryMs,
                             WT_EXECUTEDEFAULT)) {
    DeleteCriticalSection(&watch.lock);
    CloseHandle(watch.thread);
    return call();
  }

  EnterCriticalSection(&watch.lock);
  watch.calling = true;
  LeaveCriticalSection(&watch.lock);
  const BOOL ok = call();
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  EnterCriticalSection(&watch.lock);
  watch.calling = false;
  *cancelled = watch.cancelled;
  LeaveCriticalSection(&watch.lock);

  // INVALID_HANDLE_VALUE: returns only once no callback runs, as `watch` goes with this frame.
  DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
  DeleteCriticalSection(&watch.lock);
  CloseHandle(watch.thread);
  SetLastError(error);
  return ok;
}

// A read that the timer cancels reports what had come by then, usually nothing, as a read that
// finds nothing does.
bool ReadPipe(Handle handle, void* buffer, uint32_t size, uint32_t* transferred) {
  DWORD count = 0;
  bool cancelled = false;
  const BOOL ok = CallWithin(kReadWaitMs, &cancelled,
                             [&] { return ReadFile(handle, buffer, size, &count, nullptr); });
  *transferred = count;
  return ok != FALSE || (cancelled && GetLastError() == ERROR_OPERATION_ABORTED);
}

bool WritePipe(Handle handle, const void* buffer, uint32_t size, uint32_t* transferred) {
  DWORD count = 0;
  bool cancelled = false;
  const BOOL ok = CallWithin(kTransferWaitMs, &cancelled,
                             [&] { return WriteFile(handle, buffer, size, &count, nullptr); });
  *transferred = count;
  return ok != FALSE;
}

bool Control(Handle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize) {
  DWORD returned = 0;
  bool cancelled = false;
  return CallWithin(kTransferWaitMs, &cancelled, [&] {
           return DeviceIoControl(handle, code, const_cast<void*>(input), inputSize, output,
                                  outputSize, &returned, nullptr);
         }) != FALSE;
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
