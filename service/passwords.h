// Password hashes and their checking.
//
// Passwords are stored only as libsodium crypto_pwhash_str texts (Argon2id
// with the interactive limits: about 64 MiB and tens of milliseconds per
// check). Every request of the engine carries the password, so a checker
// remembers, per account, a keyed fast hash of the last password that
// matched, together with the stored hash it matched: a request with the
// same password against the same stored hash skips the slow check. The key
// is random per process, so the remembered values are worthless outside it.
// Failed checks are never remembered: guessing costs the full price.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <semaphore>
#include <string>

namespace service {

// Returns an error text, empty on success (out of memory is the only
// expected failure).
std::string hashPassword(const std::string& password, std::string& hash);

class PasswordChecker {
 public:
  // remember=false checks every request the slow way (for measurements).
  explicit PasswordChecker(bool remember = true);

  // True when `password` matches `storedHash` of the account `name`.
  bool check(const std::string& name, const std::string& password, const std::string& storedHash);

 private:
  struct Remembered {
    std::string storedHash;
    std::string passwordDigest;
  };
  std::string digest(const std::string& name, const std::string& password) const;

  bool remember_;
  unsigned char key_[32];
  std::mutex mutex_;
  std::map<std::string, Remembered> remembered_;
  // Each slow check holds 64 MiB: only a few run at once.
  std::counting_semaphore<64> slowChecks_;
};

}  // namespace service
