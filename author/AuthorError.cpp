#include "AuthorError.h"

#include "AuthorLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

std::string AuthorFatalMessage(const std::string& loggedText) {
    static const char kPrefix[] = "ERR:  ";
    std::string result;
    size_t pos = 0;
    while (pos < loggedText.size()) {
        size_t end = loggedText.find('\n', pos);
        if (end == std::string::npos)
            end = loggedText.size();
        std::string line = loggedText.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, sizeof kPrefix - 1, kPrefix) == 0)
            line.erase(0, sizeof kPrefix - 1);
        if (line.empty())
            continue;
        if (!result.empty())
            result += ' ';
        result += line;
    }
    return result;
}

void AuthorThrowFatal(const std::string& loggedText) {
    throw AuthorFatalError(AuthorFatalMessage(loggedText));
}

void AuthorFatal(const char* format, ...) {
    char text[AUTHOR_LOG_MAX_TEXT + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    AuthorLog(AUTHOR_LOG_WARN, "%s", text);
    AuthorThrowFatal(text);
}
