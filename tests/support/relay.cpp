#include "tests/support/relay.h"

#include <httplib.h>

#include <cctype>

namespace testsupport {
namespace {

// The value of the query's "function" ("get", "put", ...), or "".
std::string requestFunction(const std::string& target) {
  const size_t query = target.find('?');
  if (query == std::string::npos) return "";
  for (size_t at = query + 1; at < target.size();) {
    size_t end = target.find('&', at);
    if (end == std::string::npos) end = target.size();
    const std::string pair = target.substr(at, end - at);
    if (pair.rfind("function=", 0) == 0) return pair.substr(9);
    at = end + 1;
  }
  return "";
}

// The "type" attribute of a bookmarks root, or "".
std::string rootType(const std::string& body) {
  const size_t root = body.find("<bookmarks");
  if (root == std::string::npos) return "";
  const size_t end = body.find('>', root);
  const size_t at = body.find(" type=\"", root);
  if (at == std::string::npos || at > end) return "";
  const size_t value = at + 7;
  return body.substr(value, body.find('"', value) - value);
}

bool hopByHop(const std::string& name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "content-length" || lower == "transfer-encoding" || lower == "connection" ||
         lower == "keep-alive" || lower == "content-type";
}

}  // namespace

struct Relay::Answer {
  int status = 502;
  std::string body;
  std::string contentType = "text/plain";
  httplib::Headers headers;
};

Relay::Relay(unsigned short servicePort) : servicePort_(servicePort) { listen(); }

Relay::~Relay() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  stopListening();
}

Relay::Answer Relay::forward(const std::string& method, const std::string& target,
                             const std::string& body, const std::string& contentType) const {
  httplib::Client client("127.0.0.1", servicePort_);
  client.set_url_encode(false);  // the target goes on exactly as the computer sent it
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(120, 0);
  client.set_write_timeout(120, 0);
  httplib::Result result = method == "PUT" ? client.Put(target.c_str(), body, contentType.c_str())
                           : method == "POST"
                               ? client.Post(target.c_str(), body, contentType.c_str())
                               : client.Get(target.c_str());
  Answer answer;
  if (!result) return answer;  // 502: the service did not answer
  answer.status = result->status;
  answer.body = result->body;
  if (result->has_header("Content-Type"))
    answer.contentType = result->get_header_value("Content-Type");
  for (const auto& [name, value] : result->headers) {
    if (!hopByHop(name)) answer.headers.emplace(name, value);
  }
  return answer;
}

bool Relay::listen() {
  auto server = std::make_unique<httplib::Server>();
  // One request per connection: nothing of a computer's stays connected
  // across a refusal.
  server->set_keep_alive_max_count(1);
  auto handle = [this](const httplib::Request& req, httplib::Response& res) {
    const std::string function = requestFunction(req.target);
    bool hold = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (req.method == "GET" && function == "get" && holdArmed_) {
        holdArmed_ = false;
        hold = true;
      }
    }
    const Answer answer =
        forward(req.method, req.target, req.body, req.get_header_value("Content-Type"));
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (hold) {
        holding_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_ || closing_; });
        holding_ = false;
        released_ = false;
      }
      events_.push_back(req.method + " " + function + " " + std::to_string(answer.status));
      answers_.push_back({events_.back(), rootType(answer.body), answer.body.size()});
    }
    res.status = answer.status;
    for (const auto& [name, value] : answer.headers) res.set_header(name, value);
    res.set_content(answer.body, answer.contentType);
  };
  server->Get(".*", handle);
  server->Put(".*", handle);
  server->Post(".*", handle);
  if (port_ == 0) {
    const int bound = server->bind_to_any_port("127.0.0.1");
    if (bound <= 0) return false;
    port_ = static_cast<unsigned short>(bound);
  } else if (!server->bind_to_port("127.0.0.1", port_)) {
    return false;
  }
  server_ = std::move(server);
  thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
  return true;
}

void Relay::stopListening() {
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

void Relay::holdNextDownload() {
  std::lock_guard<std::mutex> lock(mutex_);
  holdArmed_ = true;
  released_ = false;
}

bool Relay::waitUntilHeld(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return holding_ || closing_; }) && holding_;
}

void Relay::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holdArmed_ = false;
    if (holding_) released_ = true;
  }
  changed_.notify_all();
}

bool Relay::setRefusing(bool refusing) {
  if (refusing) {
    stopListening();
    return true;
  }
  return server_ || listen();
}

std::vector<RelayEvent> Relay::takeEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RelayEvent> taken;
  taken.swap(events_);
  return taken;
}

std::vector<RelayAnswer> Relay::takeAnswers() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RelayAnswer> taken;
  taken.swap(answers_);
  return taken;
}

}  // namespace testsupport
