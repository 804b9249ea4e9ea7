#include "AuthorLog.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

const char* const kTag = "???";

std::mutex g_hookMutex;
AuthorLogHandler g_handler;
AuthorLogFilter g_filter;
AuthorLogDebugSink g_debugSink;
std::atomic<int> g_verbosity{0};

template <typename Hook> Hook currentHook(const Hook& hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return hook;
}

template <typename Hook> Hook swapHook(Hook& hook, Hook replacement) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    Hook previous = std::move(hook);
    hook = std::move(replacement);
    return previous;
}

const char* linePrefixFormat(int level) {
    switch (level) {
    case AUTHOR_LOG_DEBUG:
        return "--DEBUG: [%s] %s\n";
    case AUTHOR_LOG_INFO:
        return "   INFO: [%s] %s\n";
    case AUTHOR_LOG_WARN:
        return "++ WARN: [%s] %s\n";
    case AUTHOR_LOG_ERROR:
        return "**ERROR: [%s] %s\n";
    default:
        return nullptr;
    }
}

} // namespace

int AuthorLogV(int level, const char* format, va_list args) {
    char buffer[AUTHOR_LOG_MAX_TEXT + 1];
    std::memset(buffer, 0, sizeof buffer);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    AuthorLogHandler handler = currentHook(g_handler);
    return handler ? handler(level, buffer) : AuthorLogWrite(level, buffer);
}

int AuthorLog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = AuthorLogV(level, format, args);
    va_end(args);
    return result;
}

int AuthorLogWrite(int level, const char* text) {
    const char* lineFormat = linePrefixFormat(level);
    assert(lineFormat != nullptr && "AuthorLog level must be 1..4");
    if (lineFormat == nullptr)
        return 0;
    AuthorLogFilter filter = currentHook(g_filter);
    int drop = filter ? filter(level) : AuthorLogVerbosityFilter(level);
    if (drop != 0)
        return 0;
    std::fprintf(stderr, lineFormat, kTag, text);
    if (level >= AUTHOR_LOG_WARN) {
        AuthorLogDebugSink sink = currentHook(g_debugSink);
        if (sink)
            sink(text);
    }
    return 0;
}

int AuthorLogVerbosityFilter(int level) {
    if (g_verbosity.load() == 0) {
        if (const char* value = std::getenv("QXAUTHOR_VERBOSITY")) {
            int v = 3 - std::atoi(value);
            if (v >= 1 && v <= 4)
                g_verbosity.store(v);
        }
    }
    int verbosity = g_verbosity.load();
    return (level < AUTHOR_LOG_WARN && level < verbosity) ? 1 : 0;
}

AuthorLogHandler AuthorLogSetHandler(AuthorLogHandler handler) { return swapHook(g_handler, std::move(handler)); }
AuthorLogFilter AuthorLogSetFilter(AuthorLogFilter filter) { return swapHook(g_filter, std::move(filter)); }
AuthorLogDebugSink AuthorLogSetDebugSink(AuthorLogDebugSink sink) { return swapHook(g_debugSink, std::move(sink)); }

void AuthorLogResetVerbosity() { g_verbosity.store(0); }

std::string AuthorLogTime(long long ticks) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%03d", static_cast<int>(ticks / 90000), static_cast<int>((ticks / 90) % 1000));
    return text;
}
