// The action language of the script backend: one user action per line.
//
//   click ID            press a button or toggle a check box
//   type ID TEXT        replace an edit's text (rest of the line, or "quoted")
//   spin ID DELTA       move an up-down control by DELTA steps
//   escape              the Escape key (command IDCANCEL)
//   close               Close on the system menu (WM_CLOSE)
//   deactivate          the user activates another window
//   activate            the user activates the dialog again
//   resize W H          the user drags the frame to an outer size of W x H pixels
//   icon [ID]           left click on the notification icon
//   answer BUTTON       the next message box: ok cancel abort retry ignore yes no
//   wait DURATION       time passes (the thread keeps dispatching)
//
// Script files are UTF-8; typed texts become ANSI code page bytes.
#include <charconv>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/ui_backend.h"

namespace platform {

bool parseDurationText(std::string_view text, uint64_t* milliseconds) {
  if (text.empty()) return false;
  constexpr uint64_t kLimit = UINT64_C(1) << 62;
  uint64_t total = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] < '0' || text[pos] > '9') return false;
    uint64_t number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (number > kLimit / 10) return false;
      number = number * 10 + static_cast<uint64_t>(text[pos] - '0');
      ++pos;
    }
    uint64_t unit = 1;
    std::string_view rest = text.substr(pos);
    if (rest.substr(0, 2) == "ms") {
      pos += 2;
    } else if (!rest.empty() && (rest[0] == 's' || rest[0] == 'm' || rest[0] == 'h')) {
      unit = rest[0] == 's' ? 1000 : rest[0] == 'm' ? 60000 : 3600000;
      ++pos;
    } else if (!rest.empty()) {
      return false;
    }
    if (number > kLimit / unit || total + number * unit > kLimit) return false;
    total += number * unit;
  }
  *milliseconds = total;
  return true;
}

namespace ui {
namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
    if (pos > start) out.push_back(line.substr(start, pos - start));
  }
  return out;
}

bool toInt(std::string_view text, int* value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A "quoted" text with the escapes of the output lines.
bool unquote(std::string_view text, std::string* out) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
  text = text.substr(1, text.size() - 2);
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') return false;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\':
        *out += '\\';
        break;
      case '"':
        *out += '"';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      case 't':
        *out += '\t';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        *out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

struct Answer {
  const char* name;
  int code;
};
constexpr Answer kAnswers[] = {{"ok", kIdOk},       {"cancel", kIdCancel}, {"abort", kIdAbort},
                               {"retry", kIdRetry}, {"ignore", kIdIgnore}, {"yes", kIdYes},
                               {"no", kIdNo}};

}  // namespace

const char* answerName(int code) {
  for (const Answer& a : kAnswers) {
    if (a.code == code) return a.name;
  }
  return "none";
}

ParseResult parseAction(std::string_view line, Action* action, std::string* error) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  std::vector<std::string_view> w = words(line);
  if (w.empty() || w[0][0] == '#') return ParseResult::Nothing;
  Action a;
  a.source = std::string(line.substr(line.find(w[0])));
  const std::string_view verb = w[0];
  auto fail = [&](const std::string& why) {
    *error = "bad user action \"" + a.source + "\": " + why;
    return ParseResult::Error;
  };
  auto needId = [&]() { return w.size() >= 2 && toInt(w[1], &a.id); };

  if (verb == "click" || verb == "spin" || verb == "type") {
    if (!needId()) return fail("expected a control identifier");
    if (verb == "click") {
      a.kind = Action::Kind::Click;
      if (w.size() != 2) return fail("too many words");
    } else if (verb == "spin") {
      a.kind = Action::Kind::Spin;
      if (w.size() != 3 || !toInt(w[2], &a.first)) return fail("expected: spin ID DELTA");
    } else {
      a.kind = Action::Kind::Type;
      // The text is what follows the identifier and one blank.
      size_t idEnd = static_cast<size_t>(w[1].data() + w[1].size() - line.data());
      std::string_view rest = idEnd < line.size() ? line.substr(idEnd + 1) : std::string_view();
      std::string utf8;
      if (!rest.empty() && rest.front() == '"') {
        if (!unquote(rest, &utf8)) return fail("unterminated or bad quoted text");
      } else {
        utf8 = std::string(rest);
      }
      a.text = utf16ToAnsi(utf8ToUtf16(utf8));
    }
  } else if (verb == "escape" || verb == "close" || verb == "deactivate" || verb == "activate") {
    if (w.size() != 1) return fail("takes no arguments");
    a.kind = verb == "escape"       ? Action::Kind::Escape
             : verb == "close"      ? Action::Kind::Close
             : verb == "deactivate" ? Action::Kind::Deactivate
                                    : Action::Kind::Activate;
  } else if (verb == "resize") {
    a.kind = Action::Kind::Resize;
    if (w.size() != 3 || !toInt(w[1], &a.first) || !toInt(w[2], &a.second) || a.first < 0 ||
        a.second < 0) {
      return fail("expected: resize WIDTH HEIGHT");
    }
  } else if (verb == "icon") {
    a.kind = Action::Kind::Icon;
    if (w.size() > 2) return fail("expected: icon [ID]");
    if (w.size() == 2) {
      if (!needId() || a.id < 0) return fail("expected an icon identifier");
      a.hasId = true;
    }
  } else if (verb == "answer") {
    a.kind = Action::Kind::Answer;
    if (w.size() != 2) return fail("expected: answer BUTTON");
    bool known = false;
    for (const Answer& answer : kAnswers) {
      if (w[1] == answer.name) a.first = answer.code, known = true;
    }
    if (!known) return fail("unknown button (ok cancel abort retry ignore yes no)");
  } else if (verb == "wait") {
    a.kind = Action::Kind::Wait;
    if (w.size() != 2 || !parseDurationText(w[1], &a.milliseconds)) {
      return fail("expected: wait DURATION (e.g. 250ms, 20s, 5m)");
    }
  } else {
    return fail("unknown action");
  }
  *action = std::move(a);
  return ParseResult::Action;
}

}  // namespace ui
}  // namespace platform
