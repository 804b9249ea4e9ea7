// Program-wide diagnostic print. Lines go to standard error; warnings and errors also go to a
// second sink (the stand-in for a debugger's output window) that tests can observe.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>

enum AuthorLogLevel { AUTHOR_LOG_DEBUG = 1, AUTHOR_LOG_INFO = 2, AUTHOR_LOG_WARN = 3, AUTHOR_LOG_ERROR = 4 };

// Longest message text; a longer one is cut to this many characters.
constexpr int AUTHOR_LOG_MAX_TEXT = 1023;

using AuthorLogHandler = std::function<int(int level, const char* text)>;
using AuthorLogFilter = std::function<int(int level)>;
using AuthorLogDebugSink = std::function<void(const char* text)>;

// Formats the message (at most 1023 characters) and passes it to the output handler; returns its result.
int AuthorLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
int AuthorLogV(int level, const char* format, va_list args);

// The default handler: asks the filter, writes the level's line to standard error and, for
// levels 3 and 4, the bare text to the debug sink. Returns 0.
int AuthorLogWrite(int level, const char* text);

// The default filter: drops levels below 3 that are below the verbosity read from
// QXAUTHOR_VERBOSITY. Returns non-zero to drop.
int AuthorLogVerbosityFilter(int level);

// Each setter installs a hook (an empty function restores the default) and returns the previous one.
AuthorLogHandler AuthorLogSetHandler(AuthorLogHandler handler);
AuthorLogFilter AuthorLogSetFilter(AuthorLogFilter filter);
AuthorLogDebugSink AuthorLogSetDebugSink(AuthorLogDebugSink sink);

// Forgets the stored verbosity so that the next message reads the environment again (tests).
void AuthorLogResetVerbosity();

// Formats a 90 kHz timestamp as seconds.milliseconds ("%d.%03d").
std::string AuthorLogTime(long long ticks);
