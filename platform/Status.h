// Outcome of a platform call that can fail: success, or a text that says what went wrong.
#pragma once

#include <string>
#include <utility>

namespace qx {

class Status {
public:
    Status() = default;
    static Status Ok() { return Status(); }
    // A failure; an empty text still counts as a failure ("failed").
    static Status Fail(std::string text) {
        Status s;
        s.failed_ = true;
        s.error_ = text.empty() ? std::string("failed") : std::move(text);
        return s;
    }
    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};

// A value or a failure text.
template <class T> struct Result {
    T value{};
    std::string error; // empty when ok
    bool ok() const { return error.empty(); }
    explicit operator bool() const { return ok(); }
    static Result Ok(T v) { return Result{std::move(v), {}}; }
    static Result Fail(std::string text) { return Result{T{}, text.empty() ? std::string("failed") : std::move(text)}; }
};

// "<what>: <strerror(err)>", for errno failures.
std::string ErrnoText(const std::string& what, int err);

} // namespace qx
