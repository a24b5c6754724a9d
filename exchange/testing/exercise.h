// Runs every list operation over a document given as outside bytes and checks
// what must hold for any input: no input list changes, every result
// serialises to a text that parses again, and the streaming item counter
// agrees with the parsed tree. Shared by the fuzz target and the
// test that replays its corpus.
#pragma once

#include <string>

namespace exchange::testing {

// Empty when all checks hold, else what went wrong.
std::string exerciseDocumentText(const std::string& text);

}  // namespace exchange::testing
