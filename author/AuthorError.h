// Fatal authoring errors. An "ERR:" line is logged exactly as written and the engine stops at once by
// throwing AuthorFatalError; the engine's public entry points catch it and return a failure with the text.
#pragma once

#include <stdexcept>
#include <string>

class AuthorFatalError : public std::runtime_error {
public:
    explicit AuthorFatalError(const std::string& message) : std::runtime_error(message) {}
};

// Logs the formatted text through AuthorLog at level 3 (the text carries its own "ERR:  " prefix, e.g.
// AuthorFatal("ERR:  Error opening %s: %s\n", path, why)) and throws AuthorFatalError whose what() is the
// text without leading newlines, without the "ERR:  " prefix of each line and without the trailing newline
// (lines of a multi-line message are joined with a blank).
[[noreturn]] void AuthorFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Throws AuthorFatalError for ERR lines that were already logged (the message is cleaned the same way).
[[noreturn]] void AuthorThrowFatal(const std::string& loggedText);

// The message AuthorFatal puts into what() for a logged text.
std::string AuthorFatalMessage(const std::string& loggedText);
