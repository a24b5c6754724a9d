#include "service/passwords.h"

#include <sodium.h>

#include <algorithm>
#include <thread>

namespace service {
namespace {

constexpr std::size_t kMaxRemembered = 100000;

bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::ptrdiff_t slowCheckSlots() {
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<std::ptrdiff_t>(std::min(64u, cores * 2));
}

}  // namespace

std::string hashPassword(const std::string& password, std::string& hash) {
  if (!sodiumReady()) return "libsodium cannot be initialised";
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    return "hashing the password failed (out of memory)";
  }
  hash = out;
  return {};
}

PasswordChecker::PasswordChecker(bool remember)
    : remember_(remember), slowChecks_(slowCheckSlots()) {
  if (sodiumReady()) {
    randombytes_buf(key_, sizeof key_);
  } else {
    remember_ = false;
  }
}

std::string PasswordChecker::digest(const std::string& name, const std::string& password) const {
  // The name is part of the message so that one digest cannot serve two
  // accounts; its length comes first so that the split is unambiguous.
  unsigned char out[crypto_generichash_BYTES];
  crypto_generichash_state state;
  crypto_generichash_init(&state, key_, sizeof key_, sizeof out);
  std::uint64_t length = name.size();
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&length), sizeof length);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(name.data()),
                            name.size());
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(password.data()),
                            password.size());
  crypto_generichash_final(&state, out, sizeof out);
  return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

bool PasswordChecker::check(const std::string& name, const std::string& password,
                            const std::string& storedHash) {
  if (!sodiumReady()) return false;
  std::string mine;
  if (remember_) {
    mine = digest(name, password);
    std::lock_guard lock(mutex_);
    auto it = remembered_.find(name);
    if (it != remembered_.end() && it->second.storedHash == storedHash &&
        sodium_memcmp(it->second.passwordDigest.data(), mine.data(), mine.size()) == 0) {
      return true;
    }
  }
  // crypto_pwhash_str_verify needs a terminated text of a bounded length.
  if (storedHash.size() >= crypto_pwhash_STRBYTES) return false;
  bool ok;
  {
    slowChecks_.acquire();
    ok = crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
    slowChecks_.release();
  }
  if (ok && remember_) {
    std::lock_guard lock(mutex_);
    if (remembered_.size() >= kMaxRemembered) remembered_.clear();
    remembered_[name] = Remembered{storedHash, std::move(mine)};
  }
  return ok;
}

}  // namespace service
