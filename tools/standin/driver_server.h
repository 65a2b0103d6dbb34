// The driver side of the Linux driver stand-in (the wire is described in standin_wire.h): it
// presents device interfaces as sockets in the registry folder and serves the files that the
// library opens on them. What a device answers is up to a DeviceBehaviour; the server keeps the
// sockets, the streams and the frames.
#ifndef STANDIN_DRIVER_SERVER_H
#define STANDIN_DRIVER_SERVER_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

using Bytes = std::vector<uint8_t>;

// One open file of a device interface: the device itself (name "") or one of its pipes
// (name "if000pipe001" and the like).
struct OpenFile {
  int id = 0;
  std::string name;
};

// The answer to one request. `data` holds the bytes read (READ) or the output (IOCTL); `count`
// the bytes taken (WRITE). With `dropStream` the stream is closed instead, as when the device
// goes away in the middle of a request.
struct Reply {
  uint32_t status = 0;
  Bytes data;
  uint32_t count = 0;
  bool dropStream = false;

  static Reply Success() { return Reply(); }
  static Reply WithData(Bytes data) {
    Reply reply;
    reply.data = std::move(data);
    return reply;
  }
  static Reply Written(uint32_t count) {
    Reply reply;
    reply.count = count;
    return reply;
  }
  static Reply Failure(uint32_t status) {
    Reply reply;
    reply.status = status;
    return reply;
  }
  static Reply Drop() {
    Reply reply;
    reply.dropStream = true;
    return reply;
  }
};

// What a device does. All calls come on the serving thread.
class DeviceBehaviour {
 public:
  virtual ~DeviceBehaviour() = default;
  // Status of a CREATE: 0 opens the file.
  virtual uint32_t Open(const OpenFile& file) = 0;
  // The answer to a READ, or nothing to answer it later with DriverServer::AnswerRead.
  virtual std::optional<Reply> Read(const OpenFile& file, uint32_t max) = 0;
  virtual Reply Write(const OpenFile& file, const Bytes& data) = 0;
  virtual Reply Control(const OpenFile& file, uint32_t code, uint32_t outMax,
                        const Bytes& input) = 0;
  // A READ left waiting was cancelled by its caller; the server has answered it with no bytes.
  virtual void ReadCancelled(const OpenFile& /*file*/) {}
  // The file was closed, by its owner or by the server.
  virtual void Closed(const OpenFile& /*file*/) {}
};

// Serving is never held up by one client: every stream is non-blocking, and replies that a
// client has not taken yet wait in the stream's own queue. A client that lets more than
// kMaxPendingReplyBytes of replies pile up (one that sends requests and never reads) is dropped.
// A request body larger than kMaxRequestSize (standin_wire.h) drops its stream at once. When
// the process runs out of descriptors, new clients wait in the listener's backlog while the
// listener rests for kAcceptPause, and the streams already open are served meanwhile.
constexpr std::size_t kMaxPendingReplyBytes = std::size_t{256} * 1024;
constexpr std::chrono::milliseconds kAcceptPause{100};

class DriverServer {
 public:
  DriverServer();
  ~DriverServer();  // Withdraws every interface and closes every stream.
  DriverServer(const DriverServer&) = delete;
  DriverServer& operator=(const DriverServer&) = delete;

  // Presents a device interface: a socket `name` in the registry folder of the instrument's
  // interface class, created if missing. Call before Run() or on the serving thread. On
  // failure returns false with a one-line reason.
  bool Present(const std::string& name, DeviceBehaviour& device, std::string* error);

  // The full path of a presented interface's socket.
  std::string InterfacePath(const std::string& name) const;

  // Serves requests until Stop().
  void Run();

  // Serves `fd`, one end of a connected stream (a socket pair), as if a client had opened it
  // on an interface of `device`; the server owns it from then on. With RunWhileStreamsOpen()
  // this lets a stream be served without a registry, as tests and fuzzing need.
  void AdoptStream(int fd, DeviceBehaviour& device);

  // Serves requests until every stream has closed, or until Stop().
  void RunWhileStreamsOpen();

  // A driver program's whole life: presents the interface `name`, says so on stdout, serves until
  // SIGINT or SIGTERM, and says that it stopped. `program` opens every line. Returns the
  // program's exit status: 0, or 1 when the interface cannot be presented.
  int PresentAndServe(const std::string& program, const std::string& name, DeviceBehaviour& device);

  // Ends Run(). Safe from any thread and from a signal handler.
  void Stop();

  // Runs `task` on the serving thread. Safe from any thread.
  void Post(std::function<void()> task);
  // Runs `task` on the serving thread once `when` has come. Serving thread only.
  void PostAt(std::chrono::steady_clock::time_point when, std::function<void()> task);

  // Serving thread only: answers a READ left waiting, and closes streams.
  void AnswerRead(int fileId, const Reply& reply);
  void Drop(int fileId);
  void DropAll();

 private:
  struct Listener;
  struct Stream;

  bool Listen(Listener& listener, std::string* error) const;
  bool ServeRound();  // false: serving cannot go on
  void AcceptStreams(Listener& listener);
  void ReceiveRequests(Stream& stream);
  bool HandleRequest(Stream& stream, const Bytes& body);  // false: close the stream
  // Queues a reply and sends what the stream takes now; false: close the stream.
  bool QueueReply(Stream& stream, const Reply& reply, bool withCount);
  bool SendQueuedReplies(Stream& stream);  // false: close the stream
  void CloseStream(int fileId);
  void RunPostedTasks();
  void RunDueTimers();

  std::vector<std::unique_ptr<Listener>> listeners_;
  std::map<int, std::unique_ptr<Stream>> streams_;
  std::vector<std::unique_ptr<Stream>> closed_;
  int nextFileId_ = 1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex tasksMutex_;
  std::vector<std::function<void()>> tasks_;
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers_;
};

}  // namespace standin

#endif  // STANDIN_DRIVER_SERVER_H
