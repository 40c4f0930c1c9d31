#pragma once
// The system's own texts are written in the source as UTF-8 for legibility
// and used as CP932 bytes inside. Sjis() converts a literal once (through the
// text boundary) and keeps the result for the life of the process.

#include <string>

namespace wp {

// utf8 must be a string literal (or otherwise live for the whole run); the
// result is cached by its address. Thread-safe.
const std::string& Sjis(const char* utf8);

}  // namespace wp
