// Runs every list operation over a document given as outside bytes and checks
// what must hold for any input: no input list changes, and every result
// serialises to a text that parses again. Shared by the fuzz target and the
// test that replays its corpus.
#pragma once

#include <string>

namespace exchange::testing {

// Empty when all checks hold, else what went wrong.
std::string exerciseDocumentText(const std::string& text);

}  // namespace exchange::testing
