#include "plugin/favorites/last_error_text.h"

#include "platform/codepage.h"
#include "platform/last_error.h"

namespace favorites {

std::string lastErrorText() {
  std::string text;
  if (!platform::systemErrorText(platform::lastError(), &text)) {
    return "FormatMessage for error has been failed";
  }
  return text;
}

std::u16string lastErrorText16() { return platform::ansiToUtf16(lastErrorText()); }

}  // namespace favorites
