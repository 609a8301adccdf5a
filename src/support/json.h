#pragma once
// The program's JSON documents (the saved treatment), read through nlohmann-json into a tree
// that keeps each number as written, refused with the line and column of the first fault of a
// malformed text; and the quoting of JSON strings for the writers, which set every byte of
// their documents themselves.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/status.h"

namespace tessera {

struct JsonMember;

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string numberText;  // the number as written: whole numbers are read from it exactly
    std::string string;
    std::vector<JsonValue> items;  // an array's
    // An object's members, in the order written (a name given twice is refused).
    std::vector<JsonMember> members;

    // The member of that name; nullptr when there is none (or this is no object).
    const JsonValue* Find(const std::string& name) const;
    // A whole number written without fraction or exponent, within int64.
    std::optional<int64_t> Whole() const;
    // A whole number written without sign, fraction or exponent, within uint64: read exactly
    // past 2^53, where a double would round it, and past 2^63.
    std::optional<uint64_t> Unsigned() const;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

// The whole text as one JSON value; refused with "line L, column C: WHY" (lines and columns
// from 1, columns in bytes) at the first fault.
Result<JsonValue> ParseJson(const std::string& text);

// "text" with the characters JSON must escape escaped (control characters as \u00XX).
std::string JsonQuoted(const std::string& text);

// "array", "object", "a string", ... for refusals.
const char* JsonKindName(JsonValue::Kind kind);

}  // namespace tessera
