// Reversible disguise of the credential strings in the settings file and the
// registry copy. It uses no key: it keeps credentials from being read at a
// glance, nothing more.
//
// Layout. Every payload byte p becomes two output bytes, the low and the high
// byte of a 16-bit value v whose even bits 0, 2, ..., 14 hold p's bits 0..7
// and whose odd bits are random; bit 7 (bit 15) is then set when the low
// (high) byte would not be above 32, so no output byte is a zero, a space or
// a control byte:
//
//   v = r1 p7 r2 p6 ... r7 p1 r8 p0   (bit 15 ... bit 0)   out = v & 0xFF, v >> 8
//
// The payload is, in order: the shift s ('0' + s, s = 0..9); each digit of
// the decimal length of the clear value, minus s; ';' minus s; each clear
// byte minus s (modulo 256); then random printable padding bytes (33..122,
// not shifted) until the output is 128 bytes long. When header and value need
// more than 128 bytes there is no padding.
#pragma once

#include <string>

namespace corvex {

// A fresh text on every call (new shift and random bits). The generator is
// seeded from the clock by the first call in the process.
std::string scrambleCredential(const std::string& clear);

// The clear value of a scrambled text. A malformed text (odd or empty length,
// no digit first, no ";" after the length digits, a length beyond the text)
// gives the empty text; nothing is read past the end of the input.
std::string unscrambleCredential(const std::string& scrambled);

}  // namespace corvex
