#include "driver_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "device_access.h"
#include "standin_wire.h"
#include "system_calls.h"

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;

std::string SystemError(const std::string& what) {
  return what + ": " + std::generic_category().message(errno);
}

bool MakeFolders(const std::string& folder, std::string* error) {
  for (std::size_t slash = 1; slash != std::string::npos;) {
    slash = folder.find('/', slash + 1);
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = SystemError("cannot create the folder " + part);
      return false;
    }
  }
  return true;
}

// The address of `name` in the folder. A path too long for a socket address is reached through
// the folder's descriptor in /proc/self/fd.
bool SocketAddress(const std::string& folder, int folderFd, const std::string& name,
                   sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  std::string path = folder + "/" + name;
  if (path.size() >= sizeof address->sun_path) {
    path = "/proc/self/fd/" + std::to_string(folderFd) + "/" + name;
  }
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool IsServed(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool served =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return served;
}

}  // namespace

struct DriverServer::Listener {
  int fd = -1;
  int folderFd = -1;
  std::string folder;
  std::string name;
  DeviceBehaviour* device = nullptr;
  Clock::time_point restsUntil;  // no accepting before then
};

struct DriverServer::Stream {
  int fd = -1;
  OpenFile file;
  DeviceBehaviour* device = nullptr;
  bool created = false;
  bool readWaiting = false;
  Bytes input;   // received, not yet a whole request
  Bytes output;  // replies, not yet taken by the client
};

DriverServer::DriverServer() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
}

DriverServer::~DriverServer() {
  for (auto& [id, stream] : streams_)
    close(stream->fd);
  for (auto& listener : listeners_) {
    close(listener->fd);
    unlinkat(listener->folderFd, listener->name.c_str(), 0);
    close(listener->folderFd);
  }
  close(wakeRead_);
  close(wakeWrite_);
}

bool DriverServer::Present(const std::string& name, DeviceBehaviour& device, std::string* error) {
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
    *error = "an interface name must not be empty nor hold '/' or '\\': " + name;
    return false;
  }
  auto listener = std::make_unique<Listener>();
  listener->folder = RegistryFolder(tarvo::INTERFACE_GUID);
  listener->name = name;
  listener->device = &device;
  if (!MakeFolders(listener->folder, error)) return false;
  listener->folderFd = open(listener->folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (listener->folderFd < 0) {
    *error = SystemError("cannot open the folder " + listener->folder);
    return false;
  }
  if (!Listen(*listener, error)) {
    close(listener->fd);
    close(listener->folderFd);
    return false;
  }
  listeners_.push_back(std::move(listener));
  return true;
}

bool DriverServer::Listen(Listener& listener, std::string* error) const {
  const std::string path = InterfacePath(listener.name);
  // The socket listens under a hidden name first and then takes its own, so that an interface
  // is never present without a driver ready to accept.
  const std::string starting = "." + listener.name + ".starting";
  sockaddr_un address;
  sockaddr_un startingAddress;
  if (!SocketAddress(listener.folder, listener.folderFd, listener.name, &address) ||
      !SocketAddress(listener.folder, listener.folderFd, starting, &startingAddress)) {
    *error = "the interface name is too long: " + listener.name;
    return false;
  }
  if (IsServed(address)) {
    *error = "another driver already presents " + path;
    return false;
  }
  unlinkat(listener.folderFd, starting.c_str(), 0);  // left behind by a driver that failed
  listener.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (bind(listener.fd, reinterpret_cast<const sockaddr*>(&startingAddress),
           sizeof startingAddress) != 0 ||
      listen(listener.fd, SOMAXCONN) != 0 ||
      renameat(listener.folderFd, starting.c_str(), listener.folderFd, listener.name.c_str()) !=
          0) {
    *error = SystemError("cannot present " + path);
    unlinkat(listener.folderFd, starting.c_str(), 0);
    return false;
  }
  return true;
}

std::string DriverServer::InterfacePath(const std::string& name) const {
  return RegistryFolder(tarvo::INTERFACE_GUID) + "/" + name;
}

void DriverServer::Run() {
  while (!stopping_.load() && ServeRound()) {
  }
}

void DriverServer::RunWhileStreamsOpen() {
  while (!stopping_.load() && !streams_.empty() && ServeRound()) {
  }
}

bool DriverServer::ServeRound() {
  closed_.clear();
  std::vector<pollfd> polled;
  std::vector<int> polledIds;
  polled.push_back({wakeRead_, POLLIN, 0});
  // A resting listener is left out (poll passes over a negative descriptor) until its rest is
  // over, which bounds the wait.
  const Clock::time_point now = Clock::now();
  int timeoutMs = -1;
  for (auto& listener : listeners_) {
    const bool resting = now < listener->restsUntil;
    polled.push_back({resting ? -1 : listener->fd, POLLIN, 0});
    if (resting) {
      const auto rest =
          std::chrono::ceil<std::chrono::milliseconds>(listener->restsUntil - now).count();
      const int restMs = static_cast<int>(std::min<decltype(rest)>(rest, INT_MAX));
      timeoutMs = timeoutMs < 0 ? restMs : std::min(timeoutMs, restMs);
    }
  }
  if (!timers_.empty()) {
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(std::max(timers_.begin()->first, now) - now)
            .count();
    const int waitMs = static_cast<int>(std::min<decltype(wait)>(wait, INT_MAX));
    timeoutMs = timeoutMs < 0 ? waitMs : std::min(timeoutMs, waitMs);
  }
  for (auto& [id, stream] : streams_) {
    const short events = stream->output.empty() ? POLLIN : POLLIN | POLLOUT;
    polled.push_back({stream->fd, events, 0});
    polledIds.push_back(id);
  }
  if (poll(polled.data(), polled.size(), timeoutMs) < 0) return errno == EINTR;
  if (polled[0].revents != 0) {
    char drained[64];
    while (read(wakeRead_, drained, sizeof drained) > 0) {
    }
    RunPostedTasks();
  }
  RunDueTimers();
  std::size_t at = 1;
  for (auto& listener : listeners_) {
    if (polled[at++].revents != 0) AcceptStreams(*listener);
  }
  for (int id : polledIds) {
    if (stopping_.load()) break;
    const short events = polled[at++].revents;
    auto found = streams_.find(id);  // A task or an earlier request may have closed it.
    if (events == 0 || found == streams_.end()) continue;
    if ((events & POLLOUT) != 0 && !SendQueuedReplies(*found->second)) {
      CloseStream(id);
      continue;
    }
    if ((events & ~POLLOUT) != 0) ReceiveRequests(*found->second);
  }
  return true;
}

namespace {
DriverServer* signalledServer = nullptr;
void StopOnSignal(int) {
  signalledServer->Stop();
}
}  // namespace

int DriverServer::PresentAndServe(const std::string& program, const std::string& name,
                                  DeviceBehaviour& device) {
  // The handlers come first, so that a stop signal at any moment from now on ends serving and
  // withdraws the interface (a stop before serving begins makes Run() return at once).
  signalledServer = this;
  struct sigaction action = {};
  action.sa_handler = StopOnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A process may be started with these signals blocked (the mask is inherited); a driver that
  // cannot be stopped is worse than one that ignores how it was started.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  std::string error;
  if (!Present(name, device, &error)) {
    kvx::system::WriteText(stderr, program + ": " + error + "\n");
    return 1;
  }
  kvx::system::WriteText(stdout, program + ": presenting " + InterfacePath(name) + "\n");
  (void)std::fflush(stdout);
  Run();
  kvx::system::WriteText(stdout, program + ": stopped\n");
  return 0;
}

void DriverServer::Stop() {
  stopping_.store(true);
  const char wake = 1;
  const ssize_t written = write(wakeWrite_, &wake, 1);
  (void)written;  // A full pipe wakes the loop as well.
}

void DriverServer::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    tasks_.push_back(std::move(task));
  }
  const char wake = 0;
  const ssize_t written = write(wakeWrite_, &wake, 1);
  (void)written;
}

void DriverServer::RunPostedTasks() {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks)
    task();
}

void DriverServer::PostAt(Clock::time_point when, std::function<void()> task) {
  timers_.emplace(when, std::move(task));
}

void DriverServer::RunDueTimers() {
  std::vector<std::function<void()>> due;
  const Clock::time_point now = Clock::now();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    due.push_back(std::move(timers_.begin()->second));
    timers_.erase(timers_.begin());
  }
  for (auto& task : due)
    task();
}

void DriverServer::AcceptStreams(Listener& listener) {
  const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd >= 0) {
    AdoptStream(fd, *listener.device);
  } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
    // No descriptor (or no memory) for the client, who stays in the backlog: asking again at
    // once would only spin, so the listener rests a while.
    listener.restsUntil = Clock::now() + kAcceptPause;
  }
}

void DriverServer::AdoptStream(int fd, DeviceBehaviour& device) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto stream = std::make_unique<Stream>();
  stream->fd = fd;
  stream->file.id = nextFileId_++;
  stream->device = &device;
  streams_[stream->file.id] = std::move(stream);
}

void DriverServer::ReceiveRequests(Stream& stream) {
  const int id = stream.file.id;
  uint8_t chunk[65536];
  const ssize_t got = recv(stream.fd, chunk, sizeof chunk, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (got <= 0) {
    CloseStream(id);
    return;
  }
  Bytes& input = stream.input;
  input.insert(input.end(), chunk, chunk + got);
  std::size_t taken = 0;
  while (input.size() - taken >= 4) {
    const uint32_t size = GetU32(input.data() + taken);
    if (size > kMaxRequestSize) {  // no request is that large: a broken or hostile stream
      CloseStream(id);
      return;
    }
    if (input.size() - taken - 4 < size) break;
    const auto body = input.begin() + static_cast<std::ptrdiff_t>(taken) + 4;
    taken += 4 + size;
    if (!HandleRequest(stream, Bytes(body, body + size))) {
      CloseStream(id);
      return;
    }
    if (stream.fd < 0) return;  // The device dropped it.
  }
  input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(taken));
}

bool DriverServer::HandleRequest(Stream& stream, const Bytes& body) {
  if (body.empty()) return false;
  const uint8_t type = body[0];
  if (!stream.created) {
    if (type != kCreate) return false;
    stream.file.name.assign(body.begin() + 1, body.end());
    const uint32_t status = stream.device->Open(stream.file);
    if (!QueueReply(stream, Reply::Failure(status), false)) return false;
    stream.created = status == kStatusOk;
    return stream.created;
  }
  if (stream.readWaiting) {
    if (type != kCancel) return false;  // One request in flight per stream.
    stream.readWaiting = false;
    stream.device->ReadCancelled(stream.file);
    return QueueReply(stream, Reply::Success(), false);
  }
  switch (type) {
    case kCancel:
      return body.size() == 1;  // The READ it meant has had its reply already.
    case kRead: {
      if (body.size() != 5) return false;
      std::optional<Reply> reply = stream.device->Read(stream.file, GetU32(&body[1]));
      if (!reply) {
        stream.readWaiting = true;
        return true;
      }
      return QueueReply(stream, *reply, false);
    }
    case kWrite:
      return QueueReply(
          stream, stream.device->Write(stream.file, Bytes(body.begin() + 1, body.end())), true);
    case kIoctl: {
      if (body.size() < 9) return false;
      const Bytes input(body.begin() + 9, body.end());
      return QueueReply(
          stream, stream.device->Control(stream.file, GetU32(&body[1]), GetU32(&body[5]), input),
          false);
    }
    default:
      return false;
  }
}

bool DriverServer::QueueReply(Stream& stream, const Reply& reply, bool withCount) {
  if (reply.dropStream) return false;
  const std::size_t dataSize = withCount ? 4 : reply.data.size();
  if (dataSize > UINT32_MAX - 4) return false;
  Bytes& output = stream.output;
  const std::size_t at = output.size();
  output.resize(at + 8 + dataSize);
  PutU32(&output[at], static_cast<uint32_t>(4 + dataSize));
  PutU32(&output[at + 4], reply.status);
  if (withCount) {
    PutU32(&output[at + 8], reply.count);
  } else if (dataSize != 0) {
    std::memcpy(&output[at + 8], reply.data.data(), dataSize);
  }
  return SendQueuedReplies(stream);
}

bool DriverServer::SendQueuedReplies(Stream& stream) {
  Bytes& output = stream.output;
  std::size_t sent = 0;
  while (sent < output.size()) {
    const ssize_t went =
        send(stream.fd, output.data() + sent, output.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (went < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;  // the rest when the client reads
      return false;
    }
    sent += static_cast<std::size_t>(went);
  }
  output.erase(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(sent));
  // A client that does not read what it asked for is not kept waiting on for ever.
  return output.size() <= kMaxPendingReplyBytes;
}

void DriverServer::AnswerRead(int fileId, const Reply& reply) {
  auto found = streams_.find(fileId);
  if (found == streams_.end() || !found->second->readWaiting) return;
  found->second->readWaiting = false;
  if (!QueueReply(*found->second, reply, false)) CloseStream(fileId);
}

void DriverServer::Drop(int fileId) {
  CloseStream(fileId);
}

void DriverServer::DropAll() {
  while (!streams_.empty())
    CloseStream(streams_.begin()->first);
}

void DriverServer::CloseStream(int fileId) {
  auto found = streams_.find(fileId);
  if (found == streams_.end()) return;
  // The stream object outlives this call until the loop comes round again: a device behaviour
  // may drop streams, its own among them, while the server is still handling a request.
  Stream& stream = *found->second;
  closed_.push_back(std::move(found->second));
  streams_.erase(found);
  close(stream.fd);
  stream.fd = -1;
  if (stream.created) stream.device->Closed(stream.file);
}

}  // namespace standin
