#include "support/json.h"

#include <cstdlib>
#include <iterator>
#include <new>
#include <nlohmann/json.hpp>

namespace tessera {

namespace {

// Deep enough for any document of the program, shallow enough that a hostile file cannot
// exhaust the stack (a JsonValue is freed recursively).
constexpr int kMaximumDepth = 64;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// An iterator over the text that tells how far the reader has read, so that a fault and a
// name given twice are placed where they stand in the text.
class CountingIterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator() = default;
    // `read` counts the characters taken; `ended` is set once the reader looks past the end.
    CountingIterator(const char* at, size_t* read, bool* ended)
        : at_(at), read_(read), ended_(ended) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        if (read_) ++*read_;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const {
        if (at_ != other.at_) return false;
        if (ended_) *ended_ = true;
        return true;
    }

  private:
    const char* at_ = nullptr;
    size_t* read_ = nullptr;
    bool* ended_ = nullptr;
};

// Builds the JsonValue tree from nlohmann's events, refusing what nlohmann accepts and the
// program does not (a name given twice, a document nested too deeply), and words every fault
// as the program always has, at the place where it starts.
class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
  public:
    explicit TreeBuilder(const std::string& text) : text_(text) {}

    size_t read = 0;     // characters the reader has taken from the text
    bool ended = false;  // the reader has looked past the end of the text
    JsonValue document;
    std::string error;

    bool null() override { return Scalar(JsonValue{}); }
    bool boolean(bool value) override {
        JsonValue v;
        v.kind = JsonValue::Kind::Boolean;
        v.boolean = value;
        return Scalar(std::move(v));
    }
    bool number_integer(number_integer_t) override { return Number(); }
    bool number_unsigned(number_unsigned_t) override { return Number(); }
    bool number_float(number_float_t, const string_t&) override { return Number(); }
    bool string(string_t& value) override {
        JsonValue v;
        v.kind = JsonValue::Kind::String;
        v.string = std::move(value);
        return Scalar(std::move(v));
    }
    bool binary(binary_t&) override { return false; }  // not in a JSON text
    bool start_object(std::size_t) override { return Open(JsonValue::Kind::Object); }
    bool key(string_t& name) override {
        // The name's opening quote: the last quote before its closing one that no backslash
        // escapes.
        size_t quote = read - 1;
        while (quote > 0) {
            --quote;
            if (text_[quote] != '"') continue;
            size_t backslashes = 0;
            while (backslashes < quote && text_[quote - 1 - backslashes] == '\\') ++backslashes;
            if (backslashes % 2 == 0) break;
        }
        JsonValue& object = *open_.back();
        if (object.Find(name) != nullptr)
            return Refuse(quote, "the member \"" + name + "\" is given twice");
        object.members.push_back(JsonMember{std::move(name), JsonValue{}});
        expect_ = Expect::Colon;
        mark_ = read;
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(JsonValue::Kind::Array); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& fault) override {
        // Where the program's own reading stops: at the token after the last one read whole,
        // or, within a string or a number, at the character that cannot stand there.
        size_t at = SkipBlanks(mark_);
        // The separator the reader took without telling: what follows it is expected.
        Expect expect = expect_;
        const char separator = at < text_.size() ? text_[at] : '\0';
        if ((expect == Expect::NextItem || expect == Expect::NextMember) && separator == ',') {
            expect = expect == Expect::NextItem ? Expect::Value : Expect::Name;
            at = SkipBlanks(at + 1);
        } else if (expect == Expect::Colon && separator == ':') {
            expect = Expect::Value;
            at = SkipBlanks(at + 1);
        }
        const size_t offending = ended ? text_.size() : read - 1;
        const char c = at < text_.size() ? text_[at] : '\0';
        switch (expect) {
            case Expect::End:
                return Refuse(at, "unexpected text after the document");
            case Expect::Colon:
                return Refuse(at, "expected ':'");
            case Expect::NextItem:
                return Refuse(at, "expected ',' or ']'");
            case Expect::NextMember:
                return Refuse(at, "expected ',' or '}'");
            case Expect::Name:
                if (c != '"') return Refuse(at, "expected a member's name");
                return StringFault(fault, offending);
            case Expect::Value:
                break;
        }
        if (open_.size() > kMaximumDepth) return Refuse(at, "nested too deeply");
        if (at >= text_.size()) return Refuse(at, "unexpected end of the text");
        if (c == '"') return StringFault(fault, offending);
        if (c == '-' || (c >= '0' && c <= '9')) {
            if (fault.id == 406) return Refuse(at, "a number too large");
            const std::string why = fault.what();
            if (why.find("after '.'") != std::string::npos)
                return Refuse(offending, "a number needs digits after its point");
            if (why.find("exponent") != std::string::npos)
                return Refuse(offending, "a number needs digits in its exponent");
            return Refuse(offending, "a number needs digits");
        }
        return Refuse(at, "expected a value");
    }

  private:
    // What may come next where the last token ended.
    enum class Expect { Value, Name, Colon, NextItem, NextMember, End };

    size_t SkipBlanks(size_t at) const {
        while (at < text_.size() && IsBlank(text_[at])) ++at;
        return at;
    }

    bool StringFault(const nlohmann::detail::exception& fault, size_t offending) {
        const std::string why = fault.what();
        if (offending >= text_.size()) {
            if (why.find("'\\u'") != std::string::npos)
                return Refuse(offending, "unexpected end of the text");
            return Refuse(offending, "a string without its closing quote");
        }
        if (why.find("control character") != std::string::npos)
            return Refuse(offending, "a control character inside a string");
        if (why.find("'\\u' must be followed") != std::string::npos)
            return Refuse(offending, "\\u needs four hexadecimal digits");
        if (why.find("surrogate") != std::string::npos)
            return Refuse(offending, "a \\u escape that is half of a pair");
        if (why.find("UTF-8") != std::string::npos)
            return Refuse(offending, "a byte that is no UTF-8 inside a string");
        return Refuse(offending, "an unknown escape in a string");
    }

    // The value read where one was expected; false when it lies too deep.
    JsonValue* Place(JsonValue value) {
        if (open_.size() > kMaximumDepth) return nullptr;
        JsonValue* placed = nullptr;
        if (open_.empty()) {
            document = std::move(value);
            placed = &document;
        } else if (JsonValue& parent = *open_.back(); parent.kind == JsonValue::Kind::Array) {
            parent.items.push_back(std::move(value));
            placed = &parent.items.back();
        } else {
            parent.members.back().value = std::move(value);
            placed = &parent.members.back().value;
        }
        return placed;
    }
    // After a value: what its container lets come next.
    void Ended() {
        expect_ = open_.empty()                                  ? Expect::End
                  : open_.back()->kind == JsonValue::Kind::Array ? Expect::NextItem
                                                                 : Expect::NextMember;
    }
    bool Scalar(JsonValue value) {
        const size_t start = Start();
        if (!Place(std::move(value))) return Refuse(start, "nested too deeply");
        Ended();
        mark_ = read;
        return true;
    }
    bool Number() {
        // The reader looked one character past the number (none at the end of the text).
        const size_t end = ended ? read : read - 1;
        const size_t start = Start();
        JsonValue value;
        value.kind = JsonValue::Kind::Number;
        value.numberText = text_.substr(start, end - start);
        value.number = std::strtod(value.numberText.c_str(), nullptr);
        if (!Place(std::move(value))) return Refuse(start, "nested too deeply");
        Ended();
        mark_ = end;
        return true;
    }
    bool Open(JsonValue::Kind kind) {
        JsonValue value;
        value.kind = kind;
        JsonValue* placed = Place(std::move(value));
        if (!placed) return Refuse(read - 1, "nested too deeply");
        open_.push_back(placed);
        expect_ = kind == JsonValue::Kind::Array ? Expect::Value : Expect::Name;
        mark_ = read;
        return true;
    }
    bool Close() {
        open_.pop_back();
        Ended();
        mark_ = read;
        return true;
    }
    // Where the token just read starts: the first character after the last one read whole
    // and the blanks after it, and after a ',' or ':' that separates it.
    size_t Start() const {
        size_t at = mark_;
        while (at < text_.size() && (IsBlank(text_[at]) || text_[at] == ',' || text_[at] == ':'))
            ++at;
        return at;
    }
    bool Refuse(size_t at, const std::string& why) {
        if (!error.empty()) return false;
        int line = 1, column = 1;
        for (size_t k = 0; k < at && k < text_.size(); ++k) {
            if (text_[k] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + why;
        return false;
    }

    const std::string& text_;
    std::vector<JsonValue*> open_;  // the arrays and objects being read, outermost first
    Expect expect_ = Expect::Value;
    size_t mark_ = 0;  // the end of the last token read whole
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

std::optional<uint64_t> JsonValue::Unsigned() const {
    if (kind != Kind::Number || numberText.empty() ||
        numberText.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : numberText) {
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

Result<JsonValue> ParseJson(const std::string& text) {
    try {
        // A byte order mark is no JSON of the program's (nlohmann would pass over it).
        if (text.rfind("\xEF\xBB\xBF", 0) == 0)
            return Result<JsonValue>::Failure("line 1, column 1: expected a value");
        TreeBuilder builder(text);
        const char* begin = text.data();
        if (!nlohmann::json::sax_parse(CountingIterator(begin, &builder.read, &builder.ended),
                                       CountingIterator(begin + text.size(), nullptr, nullptr),
                                       &builder))
            return Result<JsonValue>::Failure(builder.error);
        return Result<JsonValue>::Of(std::move(builder.document));
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
