#include "support/json.h"

#include <cerrno>
#include <cstdlib>

namespace tessera {

namespace {

// Deep enough for any document of the program, shallow enough that a hostile file cannot
// exhaust the stack.
constexpr int kMaximumDepth = 64;

class Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    Result<JsonValue> Document() {
        JsonValue value;
        SkipBlanks();
        if (!Value(value, 0)) return Result<JsonValue>::Failure(error_);
        SkipBlanks();
        if (at_ < text_.size()) {
            Fail("unexpected text after the document");
            return Result<JsonValue>::Failure(error_);
        }
        return Result<JsonValue>::Of(std::move(value));
    }

  private:
    bool Fail(const std::string& why) {
        if (!error_.empty()) return false;
        int line = 1, column = 1;
        for (size_t k = 0; k < at_ && k < text_.size(); ++k) {
            if (text_[k] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        error_ = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + why;
        return false;
    }

    void SkipBlanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    bool Literal(const char* word) {
        const std::string expected(word);
        if (text_.compare(at_, expected.size(), expected) != 0) return Fail("expected a value");
        at_ += expected.size();
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        if (depth > kMaximumDepth) return Fail("nested too deeply");
        if (at_ >= text_.size()) return Fail("unexpected end of the text");
        const char c = text_[at_];
        if (c == '{') return Object(value, depth);
        if (c == '[') return Array(value, depth);
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.string);
        }
        if (c == 't' || c == 'f') {
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            value.kind = JsonValue::Kind::Null;
            return Literal("null");
        }
        if (c == '-' || (c >= '0' && c <= '9')) return Number(value);
        return Fail("expected a value");
    }

    bool Digits() {
        const size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
        return at_ > start;
    }

    bool Number(JsonValue& value) {
        const size_t start = at_;
        if (text_[at_] == '-') ++at_;
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (!Digits()) {
            return Fail("a number needs digits");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!Digits()) return Fail("a number needs digits after its point");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!Digits()) return Fail("a number needs digits in its exponent");
        }
        value.kind = JsonValue::Kind::Number;
        value.numberText = text_.substr(start, at_ - start);
        errno = 0;
        value.number = std::strtod(value.numberText.c_str(), nullptr);
        if (errno == ERANGE && (value.number > 1 || value.number < -1)) {
            at_ = start;
            return Fail("a number too large");
        }
        return true;
    }

    static void AppendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(uint32_t& code) {
        code = 0;
        for (int k = 0; k < 4; ++k, ++at_) {
            if (at_ >= text_.size()) return Fail("unexpected end of the text");
            const char h = text_[at_];
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= static_cast<uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= static_cast<uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= static_cast<uint32_t>(h - 'A' + 10);
            else
                return Fail("\\u needs four hexadecimal digits");
        }
        return true;
    }

    bool String(std::string& out) {
        ++at_;  // the opening quote
        while (true) {
            if (at_ >= text_.size()) return Fail("a string without its closing quote");
            const char c = text_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return Fail("a control character inside a string");
            if (c != '\\') {
                out += c;
                ++at_;
                continue;
            }
            ++at_;
            if (at_ >= text_.size()) return Fail("a string without its closing quote");
            const char e = text_[at_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t code = 0;
                    if (!Hex4(code)) return false;
                    if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
                        at_ += 2;
                        uint32_t low = 0;
                        if (!Hex4(low)) return false;
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    --at_;
                    return Fail("an unknown escape in a string");
            }
        }
    }

    bool Array(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Array;
        ++at_;
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return true;
        }
        while (true) {
            SkipBlanks();
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            value.items.push_back(std::move(item));
            SkipBlanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return true;
            }
            return Fail("expected ',' or ']'");
        }
    }

    bool Object(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Object;
        ++at_;
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return true;
        }
        while (true) {
            SkipBlanks();
            if (at_ >= text_.size() || text_[at_] != '"') return Fail("expected a member's name");
            const size_t nameAt = at_;
            std::string name;
            if (!String(name)) return false;
            if (value.Find(name) != nullptr) {
                at_ = nameAt;
                return Fail("the member \"" + name + "\" is given twice");
            }
            SkipBlanks();
            if (at_ >= text_.size() || text_[at_] != ':') return Fail("expected ':'");
            ++at_;
            SkipBlanks();
            JsonValue member;
            if (!Value(member, depth + 1)) return false;
            value.members.push_back(JsonMember{std::move(name), std::move(member)});
            SkipBlanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return true;
            }
            return Fail("expected ',' or '}'");
        }
    }

    const std::string& text_;
    size_t at_ = 0;
    std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(const std::string& name) const {
    for (const auto& [key, value] : members)
        if (key == name) return &value;
    return nullptr;
}

std::optional<int64_t> JsonValue::Whole() const {
    if (kind != Kind::Number) return std::nullopt;
    if (numberText.find_first_of(".eE") != std::string::npos) return std::nullopt;
    const size_t digits = numberText.size() - (numberText[0] == '-' ? 1 : 0);
    if (digits > 18) return std::nullopt;
    return std::strtoll(numberText.c_str(), nullptr, 10);
}

Result<JsonValue> ParseJson(const std::string& text) {
    try {
        return Parser(text).Document();
    } catch (const std::bad_alloc&) {
        return Result<JsonValue>::Failure("not enough memory to read it");
    }
}

std::string JsonQuoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (u < 0x20) {
            static const char* hex = "0123456789abcdef";
            quoted += "\\u00";
            quoted += hex[u >> 4];
            quoted += hex[u & 15];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

const char* JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
        case JsonValue::Kind::Null:
            return "null";
        case JsonValue::Kind::Boolean:
            return "true or false";
        case JsonValue::Kind::Number:
            return "a number";
        case JsonValue::Kind::String:
            return "a string";
        case JsonValue::Kind::Array:
            return "an array";
        case JsonValue::Kind::Object:
            return "an object";
    }
    return "a value";
}

}  // namespace tessera
