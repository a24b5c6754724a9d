#include "service/handler.h"

#include <ctime>

#include "exchange/timestamp.h"
#include "service/documents.h"
#include "service/query.h"
#include "service/signup_page.h"

namespace service {
namespace {

constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kXml = "text/xml; charset=utf-8";

HttpResponse text(int status, std::string body) { return {status, kText, std::move(body)}; }

// The engine tells a failed download by a body that does not start with
// "<?xml"; an HTML page is what a person sees in a browser.
HttpResponse unauthorized() {
  return {401, "text/html; charset=utf-8",
          "<!DOCTYPE html>\n<html><head><title>401 Unauthorized</title></head>"
          "<body><h1>401 Unauthorized</h1><p>Unknown user name or wrong password.</p>"
          "</body></html>\n"};
}

HttpResponse storageFailure() { return text(500, "The storage failed; try again later.\n"); }

std::int64_t currentTime(ServiceContext& context) {
  return context.now ? context.now() : static_cast<std::int64_t>(std::time(nullptr));
}

// The client's time stamp names the stored version when both read as the
// same local time text; comparing texts (not seconds) keeps the answer right
// in the hour that repeats when the clock falls back.
bool sameVersion(const std::string& clientStamp, std::int64_t listTime) {
  std::time_t client = exchange::parseTimestamp(clientStamp);
  if (client == 0) return false;
  return exchange::formatTimestamp(client) ==
         exchange::formatTimestamp(static_cast<std::time_t>(listTime));
}

std::string stampText(std::int64_t listTime) {
  return exchange::formatTimestamp(static_cast<std::time_t>(listTime));
}

HttpResponse conflict(std::int64_t storedTime) {
  return text(409,
              "The list has changed since the version this upload was built from; the "
              "stored version is " +
                  stampText(storedTime) +
                  ". Nothing was stored: download the list again and upload the merged "
                  "result.\n");
}

HttpResponse protocol(ServiceContext& context, const HttpRequest& request, const Params& params) {
  std::optional<std::string> function = firstParam(params, "function");
  if (!function || function->empty()) return text(400, "Missing parameter \"function\".\n");
  bool isGet = *function == "get";
  bool isPut = *function == "put";
  bool isRemove = *function == "remove";
  if (!isGet && !isPut && !isRemove) return text(400, "Unknown function.\n");
  const char* wanted = isGet ? "GET" : "PUT";
  if (request.method != wanted) {
    return text(400, "The function " + *function + " needs a " + wanted + " request.\n");
  }

  std::string user = firstParam(params, "user").value_or("");
  std::string pass = firstParam(params, "pass").value_or("");
  std::optional<Account> account;
  if (!context.storage.findAccount(user, account).empty()) return storageFailure();
  if (!account || !context.passwords.check(user, pass, account->passwordHash)) {
    return unauthorized();
  }

  if (isGet) {
    std::optional<std::string> stamp = firstParam(params, "timestamp");
    if (stamp && sameVersion(*stamp, account->listTime)) {
      return {200, kXml, skipDocument(account->listTime)};
    }
    if (account->document) return {200, kXml, *account->document};
    return {200, kXml, emptyListDocument(account->listTime)};
  }

  // An upload that names the version it was built from is stored only
  // while that version is the stored one: decided here on the snapshot
  // read above, then held to that snapshot's time inside the write.
  std::optional<std::int64_t> expected;
  if (std::optional<std::string> stamp = firstParam(params, "timestamp")) {
    if (!sameVersion(*stamp, account->listTime)) return conflict(account->listTime);
    expected = account->listTime;
  }

  WriteResult result = WriteResult::NoAccount;
  std::int64_t listTime = 0;
  std::string error;
  if (isPut) {
    ListDocument list;
    if (std::string problem = ListDocument::parse(request.body, list); !problem.empty()) {
      return text(400, "The body is not a bookmark list: " + problem + "\n");
    }
    if (list.items() > context.maxListItems) {
      return text(413, "The list has " + std::to_string(list.items()) +
                           " items (folders, bookmarks and separators); this service stores at "
                           "most " +
                           std::to_string(context.maxListItems) + ".\n");
    }
    error = context.storage.putList(
        user, account->passwordHash, currentTime(context), expected, list.items(),
        [&list](std::int64_t time) { return list.render(time); }, result, listTime);
  } else {
    error = context.storage.clearList(user, account->passwordHash, currentTime(context), expected,
                                      result, listTime);
  }
  if (!error.empty()) return storageFailure();
  if (result == WriteResult::NoAccount) return unauthorized();
  if (result == WriteResult::Conflict) return conflict(listTime);
  // The stored version's time stamp, in the shape of a "skip" answer: the
  // uploading computer caches its list under it, so that its next download
  // is answered "skip" instead of the whole list it has just sent.
  return {200, kXml, skipDocument(listTime)};
}

HttpResponse indexPage() {
  return {200, "text/html; charset=utf-8",
          "<!DOCTYPE html>\n<html><head><title>Quorvane</title></head><body>"
          "<h1>Quorvane bookmark service</h1>"
          "<p><a href=\"/registration.jsp?action=Navigation&amp;param=0\">Create an account</a></p>"
          "</body></html>\n"};
}

}  // namespace

HttpResponse bodyTooLarge(std::size_t limit) {
  std::string size = limit % (1u << 20) == 0 ? std::to_string(limit >> 20) + " MiB"
                                             : std::to_string(limit) + " bytes";
  return text(413, "The body is too large: this service accepts at most " + size + ".\n");
}

HttpResponse handleRequest(ServiceContext& context, const HttpRequest& request) {
  if (request.body.size() > context.maxBodyBytes) return bodyTooLarge(context.maxBodyBytes);
  Target target = parseTarget(request.target);
  if (target.path == context.dataPath) return protocol(context, request, target.params);
  if (target.path == kSignupPath) {
    if (request.method == "GET") return signupForm("", "");
    if (request.method == "POST") return signup(context, parseParams(request.body, true));
    return text(405, "Use GET or POST.\n");
  }
  if (target.path == "/" && request.method == "GET") return indexPage();
  return text(404, "Not found.\n");
}

}  // namespace service
