#pragma once
// The system's own texts are written in the source as UTF-8 for legibility
// and used as CP932 bytes inside. Sjis() converts a text once (through the
// text boundary) and keeps the result for the life of the process.

#include <string>

namespace wp {

// utf8: the system's own text, normally a string literal. The result is
// cached by content and lives for the whole run. Thread-safe.
const std::string& Sjis(const char* utf8);

}  // namespace wp
