#include "TestHooks.h"

#include <cstdlib>
#include <cstring>

namespace qx::hooks {

std::string Value(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool IsSet(const char* name) {
    return std::getenv(name) != nullptr;
}

int AuthorPaceMs() {
    const int ms = std::atoi(Value("QX_AUTHOR_TEST_PACE_MS").c_str());
    return ms > 0 && ms <= 1000 ? ms : 0;
}

bool EncoderCrashAt(const char* stage) {
    return Value("QX_ENCODER_TEST_CRASH") == stage;
}

} // namespace qx::hooks
