#include "service/query.h"

namespace service {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int high = hexValue(text[i + 1]);
      int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(plusIsSpace && c == '+' ? ' ' : c);
  }
  return out;
}

Params parseParams(std::string_view text, bool plusIsSpace) {
  Params params;
  while (!text.empty()) {
    std::size_t amp = text.find('&');
    std::string_view piece = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (piece.empty()) continue;
    std::size_t eq = piece.find('=');
    std::string_view key = piece.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    params.emplace_back(percentDecode(key, plusIsSpace), percentDecode(value, plusIsSpace));
  }
  return params;
}

std::optional<std::string> firstParam(const Params& params, std::string_view key) {
  for (const auto& [k, v] : params) {
    if (k == key) return v;
  }
  return std::nullopt;
}

Target parseTarget(std::string_view target) {
  Target result;
  std::size_t q = target.find('?');
  result.path = percentDecode(target.substr(0, q), false);
  if (q != std::string_view::npos) result.params = parseParams(target.substr(q + 1), false);
  return result;
}

}  // namespace service
