#include "engine/transport.h"

#include <libxml/uri.h>
#include <libxml/xmlmemory.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "engine/list_limit.h"
#include "exchange/document.h"
#include "exchange/timestamp.h"
#include "platform/files.h"
#include "platform/network.h"
#include "platform/proxy.h"

namespace corvex {
namespace {

struct XmlUriDeleter {
  void operator()(xmlURI* uri) const { xmlFreeURI(uri); }
};
using UniqueXmlUri = std::unique_ptr<xmlURI, XmlUriDeleter>;

char* xmlCopy(const std::string& text) {
  return reinterpret_cast<char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(text.c_str())));
}

void replaceField(char** field, const std::string& text) {
  if (*field) xmlFree(*field);
  *field = xmlCopy(text);
}

const char* functionName(RequestKind kind) {
  switch (kind) {
    case RequestKind::Get:
      return "get";
    case RequestKind::Put:
      return "put";
    case RequestKind::Remove:
      return "remove";
  }
  return "get";
}

using Parameters = std::vector<std::pair<std::string, std::string>>;

// A query split at "&" into pairs and each pair at its first "=".
void appendQueryParameters(const std::string& query, Parameters* parameters) {
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    if (!pair.empty()) {
      const size_t equals = pair.find('=');
      if (equals == std::string::npos) {
        parameters->emplace_back(pair, "");
      } else {
        parameters->emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
      }
    }
    start = end + 1;
  }
}

std::string buildUrl(const ClientApp& app, RequestKind kind, const std::string& password,
                     const std::string& basedOn) {
  UniqueXmlUri uri;
  Parameters parameters;
  const size_t slash = app.server.find('/');
  if (slash != std::string::npos) {
    uri.reset(xmlCreateURI());
    if (!uri) return "";
    if (slash > 0) uri->server = xmlCopy(app.server.substr(0, slash));
    uri->path = xmlCopy(app.server.substr(slash));
  } else {
    if (!app.server.empty()) uri.reset(xmlParseURI(app.server.c_str()));
    if (!uri) uri.reset(xmlCreateURI());
    if (!uri) return "";
    if (uri->query) appendQueryParameters(uri->query, &parameters);
  }
  replaceField(&uri->scheme, "http");
  uri->port = static_cast<int>(app.serverPort);

  parameters.emplace_back("user", app.username);
  parameters.emplace_back("pass", password);
  parameters.emplace_back("function", functionName(kind));
  if (kind == RequestKind::Get && app.lastSyncTime != 0) {
    parameters.emplace_back("timestamp", exchange::formatTimestamp(app.lastSyncTime));
  }
  if (kind == RequestKind::Put && !basedOn.empty()) parameters.emplace_back("timestamp", basedOn);
  std::string query;
  for (const auto& [key, value] : parameters) {
    if (!query.empty()) query += '&';
    query += key + "=" + value;
  }
  // The cooked query is escaped on output; a raw one would go out verbatim.
  if (uri->query_raw) {
    xmlFree(uri->query_raw);
    uri->query_raw = nullptr;
  }
  replaceField(&uri->query, query);

  const bool noHost = !uri->server || !*uri->server;
  const bool noPath = !uri->path || !*uri->path;
  if (noHost && noPath) return "";
  xmlChar* saved = xmlSaveUri(uri.get());
  if (!saved) return "";
  std::string url = reinterpret_cast<const char*>(saved);
  xmlFree(saved);
  return url;
}

std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
  const size_t length = std::char_traits<char>::length(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// Removes the temporary script file when the lookup ends, however it ends.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::filesystem::path path) : path_(std::move(path)) {}
  ~TempFileGuard() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

 private:
  std::filesystem::path path_;
};

void addProxyAuthorization(const ClientApp& app, platform::HttpRequest& request) {
  if (app.proxyAuth != 0) {
    request.addHeaders(proxyAuthorizationHeader(app), platform::kHttpAddReqFlagAddIfNew);
  }
}

bool isSuccessStatus(unsigned status) { return status >= 200 && status <= 299; }
constexpr unsigned kConflictStatus = 409;

// Milliseconds as seconds for the log: "60 s", "0.3 s".
std::string secondsText(unsigned ms) {
  std::string text = std::to_string(ms / 1000);
  if (const unsigned rest = ms % 1000) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03u", rest);
    std::string digits = fraction;
    while (digits.back() == '0') digits.pop_back();
    text += digits;
  }
  return text + " s";
}

enum class Direction { Download, Upload };

// Why an exchange failed, as the log tells it: the limit that ended it, else
// the HTTP client's own text.
std::string failureCause(const platform::HttpRequest& request, const platform::HttpSession& session,
                         const std::string& error, Direction direction) {
  const platform::HttpLimits limits = session.limits();
  switch (request.limitHit()) {
    case platform::HttpLimit::LowSpeed:
      return "fewer than " + std::to_string(limits.lowSpeedBytes) + " bytes " +
             (direction == Direction::Download ? "came from the service" : "went to or came from the service") +
             " in " + secondsText(limits.lowSpeedWindowMs);
    case platform::HttpLimit::Deadline:
      return "the transfer did not end within " + secondsText(limits.deadlineMs);
    default:
      return error;
  }
}

// The time stamp on the root of an upload's XML answer, or 0. The answer
// was read under the response cap of every request.
std::time_t answeredTime(const std::string& answer) {
  if (answer.compare(0, 5, "<?xml") != 0) return 0;
  return exchange::listTimeOf(exchange::parseDocumentText(answer).get(), 0);
}

}  // namespace

std::string buildRequestUrl(const ClientApp& app, RequestKind kind, const std::string& basedOn) {
  return buildUrl(app, kind, app.password, basedOn);
}

std::string requestUrlForLog(const ClientApp& app, RequestKind kind, const std::string& basedOn) {
  return buildUrl(app, kind, "***", basedOn);
}

SystemProxy findSystemProxy(const std::string& url) {
  SystemProxy result;
  uint32_t flags = 0;
  std::string connectionName;
  if (!platform::internetConnectedState(&flags, &connectionName, 512)) return result;
  platform::ProxyOptions options;
  const std::string queried = (flags & platform::kInternetConnectionLan) ? "" : connectionName;
  if (!platform::queryProxyOptions(queried, &options)) return result;
  if (options.flags & platform::kProxyTypeProxy) {
    result.found = true;
    result.server = options.proxyServer;
    result.bypass = options.bypassList;
  } else if (options.flags & (platform::kProxyTypeAutoProxyUrl | platform::kProxyTypeAutoDetect)) {
    std::optional<std::string> scriptUrl;
    if (options.flags & platform::kProxyTypeAutoProxyUrl) scriptUrl = options.autoConfigUrl;
    const std::optional<std::string> answer = autoProxyLookup(scriptUrl, url);
    if (answer && startsWithNoCase(*answer, "PROXY")) {
      result.found = true;
      result.server = answer->size() > 6 ? trimmed(answer->substr(6)) : "";
    }
  }
  return result;
}

std::optional<std::string> autoProxyLookup(const std::optional<std::string>& scriptUrl,
                                           const std::string& requestUrl) {
  platform::AutoProxyScript library;
  std::string url;
  if (scriptUrl) {
    url = *scriptUrl;
  } else if (!platform::detectAutoProxyUrl(&url)) {
    return std::nullopt;
  }
  std::filesystem::path scriptFile;
  if (!platform::createTempFile("pac", &scriptFile)) return std::nullopt;
  // Removed on every path, not only after a successful start of the script.
  TempFileGuard guard(scriptFile);
  if (!platform::downloadUrlToFile(url, scriptFile).empty()) return std::nullopt;
  if (!library.initialize(scriptFile)) return std::nullopt;
  platform::UrlParts parts;
  if (!platform::parseUrl(requestUrl, &parts)) return std::nullopt;
  std::string answer;
  if (!library.findProxy(requestUrl, parts.host, &answer, 1024)) return std::nullopt;
  if (!library.deinitialize()) return std::nullopt;
  return answer;
}

std::unique_ptr<platform::HttpSession> openHttpClient(ClientApp& app, const std::string& url) {
  const SystemProxy proxy = findSystemProxy(url);
  std::unique_ptr<platform::HttpSession> session;
  if (proxy.found && !proxy.server.empty()) {
    session = std::make_unique<platform::HttpSession>(kUserAgent, platform::InternetAccess::Proxy,
                                                      proxy.server, proxy.bypass);
  } else {
    session = std::make_unique<platform::HttpSession>(kUserAgent, platform::InternetAccess::Preconfigured);
  }
  if (!session) {
    logMessage(app.appName.c_str(), "Can not create Internet session.\n");
    return nullptr;
  }
  session->setLimits(kRequestLimits);
  return session;
}

std::string base64Encode(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 1) {
    const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string proxyAuthorizationHeader(const ClientApp& app) {
  return "Proxy-Authorization: Basic " + base64Encode(app.proxyUsername + ":" + app.proxyPassword);
}

std::string downloadList(ClientApp& app, std::string* body) {
  const char* module = app.appName.c_str();
  body->clear();
  logMessage(module, "Downloading has been started.\n");
  const std::string url = buildRequestUrl(app, RequestKind::Get);
  logMessage(module, "Requested url is: %s.\n", requestUrlForLog(app, RequestKind::Get).c_str());

  std::unique_ptr<platform::HttpSession> session = openHttpClient(app, url);
  if (!session) return kSessionFailed;
  platform::UrlParts parts;
  if (!platform::parseUrl(url, &parts) || !parts.isHttp) {
    logMessage(module, "Requested url is bad.\n");
    return kDownloadBadUrl;
  }
  platform::HttpConnection connection(*session, parts.host, parts.port);
  platform::HttpRequest request(connection, "GET", parts.object, kRequestFlags);
  if (!request.valid()) {
    logMessage(module, "Downloading has been failed - %s.\n", lastErrorText().c_str());
    return kDownloadFailed;
  }
  addProxyAuthorization(app, request);
  request.setMaxResponseBytes(kMaxDownloadBytes);
  const std::string error = request.send();
  if (!error.empty()) {
    logMessage(module, "Downloading has been failed - %s.\n",
               failureCause(request, *session, error, Direction::Download).c_str());
    logMessage(module, "Downloading has been failed after fetching with unknown error.\n");
    return kDownloadFailed;
  }
  std::string received;
  char chunk[kReadChunk];
  while (const size_t got = request.read(chunk, sizeof chunk)) received.append(chunk, got);
  request.close();

  // Only the start of the body decides; the status is not looked at.
  const bool xml = received.compare(0, 5, "<?xml") == 0;
  // A list too long to synchronise is refused before it is parsed, and
  // before its text goes into the log.
  if (xml) {
    if (std::string error = checkListLength(app, received, ListOrigin::Service); !error.empty()) {
      return error;
    }
  }
  logMessage(module, "Downloading has been finished successfully. Downloaded content is: %s.\n",
             received.c_str());
  if (!xml) return kDownloadNotXml;
  *body = std::move(received);
  return "";
}

std::string uploadList(ClientApp& app, const std::string& document, RequestKind kind, const std::string& basedOn,
                       std::time_t* storedTime) {
  const char* module = app.appName.c_str();
  if (storedTime) *storedTime = 0;
  logMessage(module, "Uploading has been started. Uploaded content is: %s. \n", document.c_str());
  std::string url = buildRequestUrl(app, kind, basedOn);
  logMessage(module, "Put url is: %s.\n", requestUrlForLog(app, kind, basedOn).c_str());

  std::unique_ptr<platform::HttpSession> session = openHttpClient(app, url);
  if (!session) return kSessionFailed;
  platform::UrlParts parts;
  if (!platform::parseUrl(url, &parts) || !parts.isHttp) {
    logMessage(module, "Put url is bad.\n");
    return kUploadBadUrl;
  }
  platform::HttpConnection connection(*session, parts.host, parts.port);
  auto openRequest = [&](const std::string& object) {
    auto request = std::make_unique<platform::HttpRequest>(connection, "PUT", object, kRequestFlags);
    if (!request->valid()) {
      logMessage(module, "Uploading has been failed - %s.\n", lastErrorText().c_str());
      return std::unique_ptr<platform::HttpRequest>();
    }
    addProxyAuthorization(app, *request);
    request->setMaxResponseBytes(kMaxDownloadBytes);
    return request;
  };
  // Sends one request; the empty text when the service took it.
  auto perform = [&](platform::HttpRequest& request, const std::string& body) -> std::string {
    std::string error = request.beginSend(body.size());
    if (error.empty()) error = request.writeBody(body);
    if (error.empty()) error = request.endSend();
    if (!error.empty()) {
      logMessage(module, "Uploading has been failed - %s.\n",
                 failureCause(request, *session, error, Direction::Upload).c_str());
      logMessage(module, "Uploading has been failed after performing with unknown error.\n");
      return kUploadFailed;
    }
    if (request.statusCode() == kConflictStatus && !basedOn.empty()) {
      logMessage(module,
                 "Uploading has been refused - the list on the service has changed since it was downloaded "
                 "(HTTP status 409).\n");
      return kUploadConflict;
    }
    // A refused request must not pass for a stored list.
    if (!isSuccessStatus(request.statusCode())) {
      const std::string status = "HTTP status " + std::to_string(request.statusCode());
      logMessage(module, "Uploading has been failed - %s.\n", status.c_str());
      return kUploadFailed;
    }
    return "";
  };

  std::unique_ptr<platform::HttpRequest> request = openRequest(parts.object);
  if (!request) return kUploadFailed;
  if (kind == RequestKind::Remove) {
    const std::string error = perform(*request, "");
    request.reset();
    if (!error.empty()) return error;
    url = buildRequestUrl(app, RequestKind::Put);
    logMessage(module, "Put url is: %s.\n", requestUrlForLog(app, RequestKind::Put).c_str());
    if (!platform::parseUrl(url, &parts) || !parts.isHttp) {
      logMessage(module, "Put url is bad.\n");
      return kUploadBadUrl;
    }
    request = openRequest(parts.object);
    if (!request) return kUploadFailed;
  }
  const std::string error = perform(*request, document);
  if (!error.empty()) return error;
  // Only the answer to the "put" names the version that holds the document.
  std::string answer;
  char chunk[kReadChunk];
  while (const size_t got = request->read(chunk, sizeof chunk)) answer.append(chunk, got);
  request.reset();
  logMessage(module, "Uploading has been finished successfully.\n");
  if (storedTime) *storedTime = answeredTime(answer);
  return "";
}

}  // namespace corvex
