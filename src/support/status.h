#pragma once
// Outcome of a core operation that can fail: the core never throws; it says what went wrong
// in a sentence the front ends show as they are.
#include <optional>
#include <string>
#include <utility>

namespace tessera {

struct Status {
    bool ok = true;
    std::string message;
    bool cancelled = false;  // stopped by its caller: nothing changed, nothing to tell

    static Status Ok() { return {}; }
    static Status Failure(std::string why) { return {false, std::move(why)}; }
    static Status Cancelled() { return {false, "cancelled", true}; }
    explicit operator bool() const { return ok; }
};

// A value or the reason why there is none.
template <class T>
struct Result {
    std::optional<T> value;
    std::string message;
    bool cancelled = false;

    static Result Of(T v) { return {std::move(v), {}}; }
    static Result Failure(std::string why) { return {std::nullopt, std::move(why)}; }
    static Result Cancelled() { return {std::nullopt, "cancelled", true}; }
    explicit operator bool() const { return value.has_value(); }
};

}  // namespace tessera
