#include "fake_driver.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <stdexcept>

namespace testing_support {

namespace {
constexpr uint32_t kFileNotFound = 2;
}  // namespace

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

class FakeDriver::Device : public standin::DeviceBehaviour {
 public:
  Device(FakeDriver& driver, std::string name) : driver_(driver), name_(std::move(name)) {}

  uint32_t Open(const standin::OpenFile& file) override {
    std::lock_guard<std::mutex> lock(driver_.mutex_);
    const bool refused = driver_.refused_.count({name_, file.name}) != 0;
    const uint32_t status = refused ? kFileNotFound : 0;
    if (!refused) ++driver_.openFiles_;
    RecordLocked({.kind = Event::Open, .file = file.id, .fileName = file.name, .status = status});
    return status;
  }

  std::optional<Reply> Read(const standin::OpenFile& file, uint32_t max) override {
    std::lock_guard<std::mutex> lock(driver_.mutex_);
    RecordLocked({.kind = Event::Read, .file = file.id, .fileName = file.name, .size = max});
    if (driver_.reads_.empty()) {
      driver_.waitingReads_.push_back(file.id);
      return std::nullopt;
    }
    Reply reply = driver_.reads_.front();
    driver_.reads_.pop_front();
    return reply;
  }

  Reply Write(const standin::OpenFile& file, const Bytes& data) override {
    std::lock_guard<std::mutex> lock(driver_.mutex_);
    RecordLocked({.kind = Event::Write, .file = file.id, .fileName = file.name, .data = data});
    if (driver_.writeReplySet_) return driver_.writeReply_;
    return Reply::Written(static_cast<uint32_t>(data.size()));
  }

  Reply Control(const standin::OpenFile& file, uint32_t code, uint32_t outMax,
                const Bytes& input) override {
    std::lock_guard<std::mutex> lock(driver_.mutex_);
    RecordLocked({.kind = Event::Control,
                  .file = file.id,
                  .fileName = file.name,
                  .code = code,
                  .size = outMax,
                  .data = input});
    auto found = driver_.controlReplies_.find(code);
    return found != driver_.controlReplies_.end() ? found->second : Reply::Success();
  }

  void ReadCancelled(const standin::OpenFile& file) override {
    std::lock_guard<std::mutex> lock(driver_.mutex_);
    auto& waiting = driver_.waitingReads_;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), file.id), waiting.end());
  }

  void Closed(const standin::OpenFile& file) override {
    std::lock_guard<std::mutex> lock(driver_.mutex_);
    --driver_.openFiles_;
    auto& waiting = driver_.waitingReads_;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), file.id), waiting.end());
    RecordLocked({.kind = Event::Close, .file = file.id, .fileName = file.name});
  }

 private:
  void RecordLocked(Event event) {
    event.interfaceName = name_;
    driver_.events_.push_back(std::move(event));
    driver_.changed_.notify_all();
  }

  FakeDriver& driver_;
  std::string name_;
};

FakeDriver::FakeDriver(const std::vector<std::string>& interfaceNames, const std::string& root) {
  if (root.empty()) {
    char pattern[] = "/tmp/tarvo-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
  } else {
    root_ = root;
    std::filesystem::create_directories(root_);
  }
  // NOLINTNEXTLINE(concurrency-mt-unsafe): set before the driver's thread starts.
  setenv("TARVO_DEVICE_ROOT", root_.c_str(), 1);
  for (const std::string& name : interfaceNames) {
    devices_.push_back(std::make_unique<Device>(*this, name));
    std::string error;
    if (!server_.Present(name, *devices_.back(), &error)) throw std::runtime_error(error);
  }
  thread_ = std::thread([this] { server_.Run(); });
}

FakeDriver::~FakeDriver() {
  server_.Stop();
  thread_.join();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string FakeDriver::InterfacePath(const std::string& name) const {
  return server_.InterfacePath(name);
}

void FakeDriver::RefuseOpen(const std::string& interfaceName, const std::string& fileName) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_.insert({interfaceName, fileName});
}

void FakeDriver::QueueRead(const Reply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waitingReads_.empty()) {
    reads_.push_back(reply);
    return;
  }
  const int file = waitingReads_.front();
  waitingReads_.pop_front();
  server_.Post([this, file, reply] { server_.AnswerRead(file, reply); });
}

void FakeDriver::AnswerWrites(const Reply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeReply_ = reply;
  writeReplySet_ = true;
}

void FakeDriver::AnswerControl(uint32_t code, const Reply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  controlReplies_[code] = reply;
}

void FakeDriver::DropAllStreams() {
  std::promise<void> done;
  server_.Post([this, &done] {
    server_.DropAll();
    done.set_value();
  });
  done.get_future().wait();
}

std::vector<Event> FakeDriver::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<Event> FakeDriver::EventsOf(Event::Kind kind) const {
  std::vector<Event> found;
  for (const Event& event : Events()) {
    if (event.kind == kind) found.push_back(event);
  }
  return found;
}

int FakeDriver::OpenFiles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openFiles_;
}

bool FakeDriver::WaitFor(const std::function<bool(const std::vector<Event>&)>& done) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return done(events_); });
}

}  // namespace testing_support
