// The emulator's driver on Windows, as far as a user-mode process can play one (it is meant for
// Wine). The device interface is registered for SetupAPI; its path is an NT symbolic link to the
// named-pipe root, so that "<path>\if000pipe000" and "<path>\if000pipe001" open the named pipes
// that this process serves. The driver's control requests cannot be answered this way: every
// DeviceIoControl on these handles fails, the probe included.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "command_line.h"
#include "device_access.h"
#include "driver.h"

namespace emulator {

namespace {

const wchar_t kReceivePipe[] = L"\\\\.\\pipe\\if000pipe000";
const wchar_t kSendPipe[] = L"\\\\.\\pipe\\if000pipe001";
const wchar_t kEnumRoot[] = L"System\\CurrentControlSet\\Enum\\ROOT\\";
const wchar_t kClassesRoot[] = L"System\\CurrentControlSet\\Control\\DeviceClasses\\";

// NOLINTBEGIN(readability-identifier-naming): the system's own structures, with its field names.
struct UnicodeString {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};

struct ObjectAttributes {
  ULONG Length;
  HANDLE RootDirectory;
  UnicodeString* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
// NOLINTEND(readability-identifier-naming)

using CreateSymbolicLink = LONG(WINAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*, UnicodeString*);

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring ClassName(bool upper) {
  wchar_t name[40];
  const tarvo::InterfaceGuid& g = tarvo::INTERFACE_GUID;
  (void)swprintf(name, 40,
                 upper ? L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}"
                       : L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                 static_cast<unsigned long>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                 g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return name;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(towlower(c));
  return text;
}

bool SetValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const void* data,
              DWORD size) {
  HKEY handle;
  if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool ok =
      RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

bool SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  return SetValue(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// The registration that makes SetupAPI list the interface as present, and the link that makes
// its path reach the named pipes. Both go when the emulator ends.
class Registration {
 public:
  explicit Registration(const std::string& name)
      : instance_(std::wstring(kEnumRoot) + Wide(name)),
        interface_(std::wstring(kClassesRoot) + ClassName(false) + L"\\##?#ROOT#" + Wide(name) +
                   L"#0000#" + ClassName(false)),
        path_(L"\\??\\root#" + Lower(Wide(name)) + L"#0000#" + ClassName(false)) {}

  bool Register(std::string* error) {
    const DWORD linked = 1;
    if (!SetText(instance_ + L"\\0000", L"ClassGUID", ClassName(true)) ||
        !SetText(interface_, L"DeviceInstance",
                 L"ROOT\\" + instance_.substr(wcslen(kEnumRoot)) + L"\\0000") ||
        !SetValue(HKEY_LOCAL_MACHINE, interface_ + L"\\#\\Control", L"Linked", REG_DWORD, &linked,
                  sizeof linked)) {
      *error = "cannot register the device interface (registry)";
      return false;
    }
    auto create = reinterpret_cast<CreateSymbolicLink>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSymbolicLinkObject")));
    std::wstring target = L"\\Device\\NamedPipe";
    UnicodeString linkName{static_cast<USHORT>(path_.size() * 2),
                           static_cast<USHORT>(path_.size() * 2), path_.data()};
    UnicodeString targetName{static_cast<USHORT>(target.size() * 2),
                             static_cast<USHORT>(target.size() * 2), target.data()};
    ObjectAttributes attributes{sizeof(ObjectAttributes),
                                nullptr,
                                &linkName,
                                0x40,
                                nullptr,
                                nullptr};  // 0x40: case-insensitive names
    if (create == nullptr || create(&link_, 0xF0001, &attributes, &targetName) != 0) {
      *error = "cannot link the device interface to the named pipes";
      return false;
    }
    return true;
  }

  ~Registration() {
    if (link_ != nullptr) CloseHandle(link_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, interface_.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, instance_.c_str());
    // The class's own key goes too when no other interface of the class is left in it.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kClassesRoot) + ClassName(false)).c_str());
  }

  std::string DevicePath() const {
    std::string path = "\\\\?\\";
    for (std::size_t i = 4; i < path_.size(); ++i)
      path += static_cast<char>(path_[i]);
    return path;
  }

 private:
  std::wstring instance_;
  std::wstring interface_;
  std::wstring path_;
  HANDLE link_ = nullptr;
};

Registration* activeRegistration = nullptr;

// Ctrl-C, Ctrl-Break, the console closing: the registration goes with the process.
BOOL WINAPI StopOnConsoleEvent(DWORD) {
  cli::Out("kvx-emulator: stopped\n");
  (void)std::fflush(stdout);
  delete activeRegistration;
  activeRegistration = nullptr;
  ExitProcess(0);
}

HANDLE MakePipe(const wchar_t* name) {
  return CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                          1, 4096, 4096, 0, nullptr);
}

bool Connect(HANDLE pipe) {
  return ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
}

// The replies of one link, in order. Each goes out when it is due, and only once the program has
// read the one before it: a named pipe would join replies written back to back into one read,
// where the instrument's driver gives one reply to each read.
class ReplyWriter {
 public:
  ReplyWriter(HANDLE pipe, Instrument& instrument)
      : pipe_(pipe),
        instrument_(instrument),
        thread_(CreateThread(nullptr, 0, &ReplyWriter::Run, this, 0, nullptr)) {}

  // The replies not yet written go with the link.
  ~ReplyWriter() {
    if (thread_ == nullptr) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    // A write, or the wait for its reading, is cancelled until the writer has seen the end.
    while (WaitForSingleObject(thread_, 20) == WAIT_TIMEOUT)
      CancelSynchronousIo(thread_);
    CloseHandle(thread_);
  }
  ReplyWriter(const ReplyWriter&) = delete;
  ReplyWriter& operator=(const ReplyWriter&) = delete;

  void Add(const Outcome& outcome) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back({outcome.reply, outcome.label,
                        Clock::now() + std::chrono::milliseconds(outcome.delayMs)});
    }
    changed_.notify_all();
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    std::string reply;
    std::string label;
    Clock::time_point due;
  };

  static DWORD WINAPI Run(void* writer) {
    static_cast<ReplyWriter*>(writer)->WriteReplies();
    return 0;
  }

  void WriteReplies() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (closing_ || changed_.wait_until(lock, queue_.front().due, [this] { return closing_; })) {
        return;
      }
      const Pending next = queue_.front();
      queue_.pop_front();
      lock.unlock();
      instrument_.Log().Line("reply " + (next.label.empty() ? "" : next.label + " ") +
                             Quoted(next.reply));
      DWORD written = 0;
      const bool read = WriteFile(pipe_, next.reply.data(), static_cast<DWORD>(next.reply.size()),
                                  &written, nullptr) &&
                        FlushFileBuffers(pipe_);
      lock.lock();
      if (!read) return;  // The program has gone.
    }
  }

  HANDLE pipe_;
  Instrument& instrument_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending> queue_;
  bool closing_ = false;
  HANDLE thread_;  // last: it starts at once
};

// The commands of one link, each answered through the writer, until the program closes the
// pipes or the device goes.
void ServeCommands(Instrument& instrument, HANDLE receive, HANDLE send) {
  ReplyWriter replies(receive, instrument);
  for (;;) {
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(send, buffer, sizeof buffer, &got, nullptr) || got == 0) return;
    const Outcome outcome = instrument.Command(std::string(buffer, got));
    if (outcome.action == Outcome::Silent || outcome.action == Outcome::EmptyReads) {
      // A named pipe cannot complete a read with 0 bytes: empty reads are silence here too.
      instrument.Log().Line(outcome.action == Outcome::Silent
                                ? "reply: none (silent)"
                                : "reply: none (silent, as a named pipe has no empty reads)");
      continue;
    }
    if (outcome.action != Outcome::Reply) {
      // A write cannot be failed from here; the device goes instead.
      instrument.Log().Line("link dropped");
      return;
    }
    replies.Add(outcome);
  }
}

// Serves one link: commands from the send pipe, replies on the receive pipe, until the program
// closes the pipes or the device goes.
void ServeLink(Instrument& instrument, HANDLE receive, HANDLE send) {
  instrument.LinkOpened();
  ServeCommands(instrument, receive, send);
  FlushFileBuffers(receive);
  instrument.LinkClosed();
}

}  // namespace

std::string DefaultInterfaceName() {
  return "KVX_EMULATOR";
}

int ServeInstrument(Instrument& instrument, const std::string& name) {
  if (name.empty() || name.find_first_of("\\/# ") != std::string::npos) {
    cli::Err(
        "kvx-emulator: an interface name must not be empty nor hold \\ / # or "
        "blanks\n");
    return 2;
  }
  // Each link gets pipe instances of its own; the instances of the last one go with it.
  HANDLE receive = MakePipe(kReceivePipe);
  HANDLE send = MakePipe(kSendPipe);
  if (receive == INVALID_HANDLE_VALUE || send == INVALID_HANDLE_VALUE) {
    cli::Err(
        "kvx-emulator: cannot make the named pipes (is another emulator "
        "running?)\n");
    return 1;
  }
  activeRegistration = new Registration(name);
  std::string error;
  if (!activeRegistration->Register(&error)) {
    cli::Err("kvx-emulator: %s\n", error.c_str());
    delete activeRegistration;
    return 1;
  }
  SetConsoleCtrlHandler(StopOnConsoleEvent, TRUE);
  cli::Out("kvx-emulator: presenting %s\n", activeRegistration->DevicePath().c_str());
  (void)std::fflush(stdout);
  for (;;) {
    if (Connect(receive) && Connect(send)) ServeLink(instrument, receive, send);
    CloseHandle(receive);
    CloseHandle(send);
    receive = MakePipe(kReceivePipe);
    send = MakePipe(kSendPipe);
  }
}

}  // namespace emulator
