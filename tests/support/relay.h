// A loopback HTTP relay between one computer and the service: the computer's
// settings name the relay's port, and the relay passes every request on to
// the service and its answer back. A test can hold the answer of one download
// (a GET with function=get) after the service gave it, so that other
// computers run while this one's run waits in the middle; and it can refuse
// connections, as a service that is down does for that computer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testsupport {

// A request that went through, in order: "GET get 200", "PUT put 409".
using RelayEvent = std::string;

// The answer the relay passed back for a request.
struct RelayAnswer {
  RelayEvent request;  // as in the events
  std::string type;    // the root's "type" of an exchange document, else ""
  size_t bytes = 0;    // of the body
};

class Relay {
 public:
  // Listens on a free loopback port.
  explicit Relay(unsigned short servicePort);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  unsigned short port() const { return port_; }

  // The answer of the next download is kept once the service has given it,
  // until release() (or the relay's end).
  void holdNextDownload();
  // Waits until a download answer is held: true, or false after the time-out.
  bool waitUntilHeld(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Sends the held answer on (does nothing when none is held or armed).
  void release();

  // While refusing, nothing listens on the port: connections are refused.
  // False when listening again failed (the port was taken meanwhile).
  bool setRefusing(bool refusing);

  // The requests passed on so far, and clears the record.
  std::vector<RelayEvent> takeEvents();
  // The answers passed back so far, and clears their record (kept apart
  // from the events).
  std::vector<RelayAnswer> takeAnswers();

 private:
  struct Answer;
  Answer forward(const std::string& method, const std::string& target, const std::string& body,
                 const std::string& contentType) const;
  bool listen();
  void stopListening();

  unsigned short servicePort_;
  unsigned short port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool holdArmed_ = false;
  bool holding_ = false;
  bool released_ = false;
  bool closing_ = false;
  std::vector<RelayEvent> events_;
  std::vector<RelayAnswer> answers_;
};

}  // namespace testsupport
