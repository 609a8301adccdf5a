#include "crossing/codetable.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <vector>

#include "support/safefile.h"

namespace tessera {

namespace {

// The exact product of the segment counts in decimal, however large (for the refusal text).
std::string DecimalProduct(const std::vector<int32_t>& segmentCounts) {
    std::vector<uint32_t> limbs{1};  // base 10^9, least significant first
    for (size_t b = 1; b < segmentCounts.size(); ++b) {
        uint64_t carry = 0;
        const uint64_t factor = static_cast<uint64_t>(segmentCounts[b] < 0 ? 0 : segmentCounts[b]);
        for (uint32_t& limb : limbs) {
            const uint64_t value = limb * factor + carry;
            limb = static_cast<uint32_t>(value % 1000000000u);
            carry = value / 1000000000u;
        }
        while (carry != 0) {
            limbs.push_back(static_cast<uint32_t>(carry % 1000000000u));
            carry /= 1000000000u;
        }
    }
    std::string text = std::to_string(limbs.back());
    char part[16];
    for (size_t i = limbs.size() - 1; i-- > 0;) {
        std::snprintf(part, sizeof part, "%09u", static_cast<unsigned>(limbs[i]));
        text += part;
    }
    return text;
}

// A decimal number kept as text and counted up in place: the code numbers of the list follow
// each other, so none needs converting.
class DecimalCounter {
  public:
    DecimalCounter() { text_[0] = '1'; }
    const char* Text() const { return text_; }
    int Length() const { return length_; }
    void Increment() {
        for (int i = length_ - 1; i >= 0; --i) {
            if (text_[i] != '9') {
                ++text_[i];
                return;
            }
            text_[i] = '0';
        }
        std::memmove(text_ + 1, text_, static_cast<size_t>(length_));
        text_[0] = '1';
        ++length_;
    }

  private:
    char text_[24] = {};
    int length_ = 1;
};

// "v\t" for every segment number 1..254, padded to four bytes so that it is copied whole.
struct DigitTexts {
    DigitTexts() {
        for (int value = 0; value < 256; ++value) {
            char* end = std::to_chars(text[value], text[value] + 3, value).ptr;
            *end++ = '\t';
            length[value] = static_cast<uint8_t>(end - text[value]);
        }
    }
    char text[256][4] = {};
    uint8_t length[256] = {};
};

// Produces the code list in pieces of about `chunk` bytes; stops when `emit` returns false.
// The digits are stepped like an odometer (the last band fastest), not divided out per code,
// and so is each code's decimal reading of its digits.
bool ProduceMultiTab(const CodeTable& table, size_t chunk,
                     const std::function<bool(std::string_view)>& emit) {
    const int n = table.BandCount();
    // A line holds at most 11 numbers of at most 20 characters and their tabs; four bytes
    // more for the whole-word copies of the digit texts.
    const size_t longestLine = static_cast<size_t>(n + 1) * 21 + 1 + 4;
    std::vector<char> buffer(chunk + longestLine);
    char* out = buffer.data();
    auto flushIfFull = [&]() {
        const size_t used = static_cast<size_t>(out - buffer.data());
        if (used < chunk) return true;
        out = buffer.data();
        return emit(std::string_view(buffer.data(), used));
    };
    static const DigitTexts digitTexts;
    std::vector<int> digits(static_cast<size_t>(n) + 1, 1);
    // Each code's digits read as a decimal number (64-bit: ten digits up to 254 overflow
    // 32 bits), and what one step of band b's digit adds to it.
    std::vector<int64_t> power(static_cast<size_t>(n) + 1, 1);
    for (int b = n - 1; b >= 1; --b) power[b] = power[b + 1] * 10;
    int64_t number = 0;
    auto step = [&]() {
        for (int b = n; b >= 1; --b) {
            if (++digits[b] <= table.segmentCounts[b]) {
                number += power[b];
                return;
            }
            number -= (digits[b] - 2) * power[b];
            digits[b] = 1;
        }
    };
    DecimalCounter code;
    for (int c = 1; c <= table.CodeCount; ++c, code.Increment(), step()) {
        std::memcpy(out, code.Text(), static_cast<size_t>(code.Length()));
        out += code.Length();
        *out++ = '\t';
        for (int b = 1; b <= n; ++b) {
            const int digit = std::clamp(digits[b], 0, 255);
            std::memcpy(out, digitTexts.text[digit], 4);
            out += digitTexts.length[digit];
        }
        *out++ = '\n';
        if (!flushIfFull()) return false;
    }
    std::fill(digits.begin(), digits.end(), 1);
    number = 0;
    for (int b = 1; b <= n; ++b) number += power[b];
    for (int c = 1; c <= table.CodeCount; ++c, step()) {
        out = std::to_chars(out, out + 24, number).ptr;
        *out++ = '\t';
        if (!flushIfFull()) return false;
    }
    const size_t used = static_cast<size_t>(out - buffer.data());
    return used == 0 || emit(std::string_view(buffer.data(), used));
}

}  // namespace

Result<CodeTable> BuildCodeTable(const std::vector<int32_t>& segmentCounts) {
    const int n = segmentCounts.empty() ? 0 : static_cast<int>(segmentCounts.size()) - 1;
    if (n < 1) return Result<CodeTable>::Failure(" There is no band to cross ");
    for (int b = 1; b <= n; ++b) {
        if (segmentCounts[b] < 1)
            return Result<CodeTable>::Failure(" Band " + std::to_string(b) + " has " +
                                              std::to_string(segmentCounts[b]) +
                                              " segments: every band needs at least one ");
    }
    int64_t product = 1;
    bool tooMany = false;
    for (int b = 1; b <= n && !tooMany; ++b) {
        product *= segmentCounts[b];
        tooMany = product > kMaximumCodeCount;  // checked at every step: no overflow
    }
    if (tooMany) {
        std::string factors;
        for (int b = 1; b <= n; ++b) {
            if (b > 1) factors += " x ";
            factors += std::to_string(segmentCounts[b]);
        }
        return Result<CodeTable>::Failure(" The bands' segment counts give " + factors + " = " +
                                          DecimalProduct(segmentCounts) + " codes, more than the " +
                                          std::to_string(kMaximumCodeCount) +
                                          " this program can handle \nUse fewer segments ");
    }
    try {
        CodeTable table;
        table.CodeCount = static_cast<int>(product);
        table.segmentCounts = segmentCounts;
        table.segmentCounts[0] = 0;
        table.weights_.assign(static_cast<size_t>(n) + 1, 0);
        table.weights_[n] = 1;
        for (int b = n - 1; b >= 1; --b)
            table.weights_[b] = table.weights_[b + 1] * segmentCounts[b + 1];
        return Result<CodeTable>::Of(std::move(table));
    } catch (const std::bad_alloc&) {
        return Result<CodeTable>::Failure(" Not enough memory for the code table ");
    }
}

int CodeTable::CodeOf(const int* digits) const {
    const int n = BandCount();
    int64_t code = 1;
    for (int b = 1; b <= n; ++b) {
        const int digit = digits[b];
        if (digit < 1 || digit > segmentCounts[b]) return 0;
        code += (digit - 1) * weights_[b];
    }
    return static_cast<int>(code);
}

std::string MultiTabText(const CodeTable& table) {
    std::string text;
    try {
        ProduceMultiTab(table, 1 << 16, [&](std::string_view piece) {
            text.append(piece);
            return true;
        });
    } catch (const std::bad_alloc&) {
        return {};  // too large to hold: WriteMultiTab streams it instead
    }
    return text;
}

Status WriteMultiTab(const std::string& path, const CodeTable& table) {
    try {
        return WriteFileAtomically(path, [&](std::FILE* file) {
            return ProduceMultiTab(table, 1 << 16, [&](std::string_view piece) {
                return std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
            });
        });
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to write " + path + " ");
    }
}

}  // namespace tessera
