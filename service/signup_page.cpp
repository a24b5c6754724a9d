#include "service/signup_page.h"

#include <ctime>

namespace service {
namespace {

constexpr std::size_t kMaxNameBytes = 64;
constexpr std::size_t kMaxPasswordBytes = 128;

const char* const kPageStart =
    "<!DOCTYPE html>\n"
    "<html><head><meta charset=\"utf-8\"><title>Quorvane sign-up</title></head>\n"
    "<body>\n";
const char* const kPageEnd = "</body></html>\n";

HttpResponse page(int status, const std::string& content) {
  return {status, "text/html; charset=utf-8", kPageStart + content + kPageEnd};
}

bool plainAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f) return false;
  }
  return true;
}

std::int64_t currentTime(ServiceContext& context) {
  return context.now ? context.now() : static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

std::string htmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

HttpResponse signupForm(const std::string& reason, const std::string& name) {
  std::string content = "<h1>Create a Quorvane account</h1>\n";
  if (!reason.empty()) content += "<p class=\"error\">" + htmlEscape(reason) + "</p>\n";
  content +=
      "<form method=\"post\" action=\"/registration.jsp\">\n"
      "<p><label>User name <input name=\"user\" value=\"" +
      htmlEscape(name) +
      "\"></label></p>\n"
      "<p><label>Password <input name=\"pass\" type=\"password\"></label></p>\n"
      "<p><label>Password again <input name=\"pass2\" type=\"password\"></label></p>\n"
      "<p><input type=\"submit\" value=\"Create account\"></p>\n"
      "</form>\n";
  return page(reason.empty() ? 200 : 400, content);
}

std::string newAccountProblem(const std::string& name, const std::string& password,
                              const std::string& again) {
  if (name.empty() || password.empty() || again.empty()) return "Please fill in all fields.";
  if (password != again) return "The passwords differ.";
  if (name.size() > kMaxNameBytes) return "The user name is too long (at most 64 characters).";
  if (password.size() > kMaxPasswordBytes) {
    return "The password is too long (at most 128 characters).";
  }
  if (!plainAscii(name) || name.find('&') != std::string::npos) {
    return "The user name may hold only ASCII letters, digits, spaces and punctuation other than "
           "&.";
  }
  if (!plainAscii(password) || password.find('&') != std::string::npos) {
    return "The password may hold only ASCII letters, digits, spaces and punctuation other than &.";
  }
  return {};
}

HttpResponse signup(ServiceContext& context, const Params& fields) {
  std::string name = firstParam(fields, "user").value_or("");
  std::string password = firstParam(fields, "pass").value_or("");
  std::string again = firstParam(fields, "pass2").value_or("");
  if (std::string problem = newAccountProblem(name, password, again); !problem.empty()) {
    return signupForm(problem, name);
  }
  // Checked first so that a taken name costs no slow hash.
  std::optional<Account> existing;
  if (std::string error = context.storage.findAccount(name, existing); !error.empty()) {
    return page(500, "<p>The account cannot be created now; please try again later.</p>\n");
  }
  if (existing) return signupForm("The user name is taken.", name);
  std::string hash;
  if (!hashPassword(password, hash).empty()) {
    return page(500, "<p>The account cannot be created now; please try again later.</p>\n");
  }
  bool created = false;
  if (std::string error = context.storage.addAccount(name, hash, currentTime(context), created);
      !error.empty()) {
    return page(500, "<p>The account cannot be created now; please try again later.</p>\n");
  }
  if (!created) return signupForm("The user name is taken.", name);
  return page(200, "<h1>Account created</h1>\n<p>The account " + htmlEscape(name) +
                       " has been created. Enter its user name and password in the "
                       "synchronisation options.</p>\n");
}

}  // namespace service
