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
// each other, and so, most of the time, do the decimal readings of their digits. The text is
// held in 24 bytes, copied whole wherever the number is written.
class DecimalText {
  public:
    static constexpr size_t kCopied = 48;
    DecimalText() { text_[0] = '1'; }
    const char* Text() const { return text_; }
    int Length() const { return length_; }
    // Up to 39 digits: the decimal reading of the digits of 32 bands.
    __extension__ typedef unsigned __int128 Wide;
    void Set(Wide value) {
        char reversed[48];
        int length = 0;
        do {
            reversed[length++] = static_cast<char>('0' + static_cast<int>(value % 10));
            value /= 10;
        } while (value != 0);
        for (int i = 0; i < length; ++i) text_[i] = reversed[length - 1 - i];
        length_ = length;
    }
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
    // Writes the number at `out`, which has room for kCopied bytes; returns its end.
    char* WriteTo(char* out) const {
        std::memcpy(out, text_, kCopied);
        return out + length_;
    }

  private:
    char text_[48] = {};
    int length_ = 1;
};

// The code list goes out in pieces of this size: as large as the file's buffer, so that each
// is written straight from the piece (and the list of the largest tables, near a gigabyte, is
// never held whole).
constexpr size_t kMultiTabPiece = size_t{1} << 20;

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
// With `pixelCount`, for more than kListEveryCodeBands bands, only the codes that hold pixels.
// The digits are stepped like an odometer (the last band fastest), not divided out per code.
// The text of a line's digits is kept from one line to the next and only its end rewritten
// from the band that stepped on; the decimal reading of the digits is counted up in its text
// while only the last band steps.
bool ProduceSparseMultiTab(const CodeTable& table, size_t chunk,
                           const std::function<bool(std::string_view)>& emit);

bool ProduceMultiTab(const CodeTable& table, size_t chunk,
                     const std::function<bool(std::string_view)>& emit,
                     const std::vector<int64_t>* pixelCount) {
    if (table.Sparse()) return ProduceSparseMultiTab(table, chunk, emit);
    const int n = table.BandCount();
    const bool heldOnly = pixelCount != nullptr && n > kListEveryCodeBands;
    const auto listed = [&](int c) {
        return !heldOnly ||
               (static_cast<size_t>(c) < pixelCount->size() && (*pixelCount)[c] > 0);
    };
    // The digits of a line: at most four bytes a band, and room for a whole-word copy.
    constexpr size_t kDigitCopy = 4;
    const size_t digitRoom = static_cast<size_t>(n) * 4 + kDigitCopy;
    // A line holds the code (copied as DecimalText::kCopied bytes), a tab, the digits (copied
    // in pieces of as many bytes) and the line end; the last line's numbers are copied the
    // same way.
    const size_t longestLine = 2 * DecimalText::kCopied + digitRoom + 2;
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
    // The text of the digits, and where band b's digit starts in it (start[n + 1] its end).
    std::vector<char> digitText(digitRoom + DecimalText::kCopied, 0);
    std::vector<size_t> start(static_cast<size_t>(n) + 2, 0);
    auto writeDigitsFrom = [&](int first) {
        for (int b = first; b <= n; ++b) {
            const int digit = std::clamp(digits[b], 0, 255);
            std::memcpy(digitText.data() + start[b], digitTexts.text[digit], kDigitCopy);
            start[b + 1] = start[b] + digitTexts.length[digit];
        }
    };
    // Each code's digits read as a decimal number (128-bit: ten digits up to 254 overflow
    // 32 bits, twenty 64), and what one step of band b's digit adds to it.
    using Wide = DecimalText::Wide;
    std::vector<Wide> power(static_cast<size_t>(n) + 1, 1);
    for (int b = n - 1; b >= 1; --b) power[b] = power[b + 1] * 10;
    Wide number = 0;
    // The first band whose digit changed (n + 1 when none did: past the last code).
    auto step = [&]() {
        for (int b = n; b >= 1; --b) {
            if (++digits[b] <= table.segmentCounts[b]) {
                number += power[b];
                return b;
            }
            number -= static_cast<Wide>(digits[b] - 2) * power[b];
            digits[b] = 1;
        }
        return n + 1;
    };
    writeDigitsFrom(1);
    DecimalText code;
    for (int c = 1; c <= table.CodeCount; ++c, code.Increment()) {
        if (!listed(c)) {
            const int changed = step();
            if (changed <= n) writeDigitsFrom(changed);
            continue;
        }
        out = code.WriteTo(out);
        *out++ = '\t';
        const size_t length = start[n + 1];
        // The digits are copied in pieces of DecimalText::kCopied bytes (the text has room).
        for (size_t done = 0; done < length; done += DecimalText::kCopied)
            std::memcpy(out + done, digitText.data() + done, DecimalText::kCopied);
        out += length;
        *out++ = '\n';
        if (!flushIfFull()) return false;
        const int changed = step();
        if (changed <= n) writeDigitsFrom(changed);
    }
    std::fill(digits.begin(), digits.end(), 1);
    number = 0;
    for (int b = 1; b <= n; ++b) number += power[b];
    DecimalText reading;
    reading.Set(number);
    for (int c = 1; c <= table.CodeCount; ++c) {
        if (listed(c)) {
            out = reading.WriteTo(out);
            *out++ = '\t';
            if (!flushIfFull()) return false;
        }
        // Where only the last band stepped on, the number gained one.
        if (step() == n && number > 0)
            reading.Increment();
        else
            reading.Set(number);
    }
    const size_t used = static_cast<size_t>(out - buffer.data());
    return used == 0 || emit(std::string_view(buffer.data(), used));
}

// A sparse table's list: its codes that occur (every one holds pixels), each line's digits
// worked out of the code's offset.
bool ProduceSparseMultiTab(const CodeTable& table, size_t chunk,
                           const std::function<bool(std::string_view)>& emit) {
    const int n = table.BandCount();
    static const DigitTexts digitTexts;
    std::string text;
    text.reserve(chunk + 256);
    const auto flushIfFull = [&]() {
        if (text.size() < chunk) return true;
        const bool written = emit(text);
        text.clear();
        return written;
    };
    for (int c = 1; c <= table.CodeCount; ++c) {
        text += table.CodeText(c);
        text += '\t';
        for (int b = 1; b <= n; ++b) {
            const int digit = std::clamp(table.Digits(c, b), 0, 255);
            text.append(digitTexts.text[digit], digitTexts.length[digit]);
        }
        text += '\n';
        if (!flushIfFull()) return false;
    }
    for (int c = 1; c <= table.CodeCount; ++c) {
        DecimalText::Wide number = 0;
        for (int b = 1; b <= n; ++b) number = number * 10 + static_cast<unsigned>(table.Digits(c, b));
        text += WideText(number);
        text += '\t';
        if (!flushIfFull()) return false;
    }
    return text.empty() || emit(text);
}

}  // namespace

Result<CodeTable> BuildCodeTable(const std::vector<int32_t>& segmentCounts, bool sparse) {
    const int n = segmentCounts.empty() ? 0 : static_cast<int>(segmentCounts.size()) - 1;
    if (n < 1) return Result<CodeTable>::Failure(" There is no band to cross ");
    for (int b = 1; b <= n; ++b) {
        if (segmentCounts[b] < 1)
            return Result<CodeTable>::Failure(" Band " + std::to_string(b) + " has " +
                                              std::to_string(segmentCounts[b]) +
                                              " segments: every band needs at least one ");
    }
    const WideCount limit = sparse ? WideCount{1} << 64 : WideCount{kMaximumCodeCount};
    WideCount product = 1;
    bool tooMany = false;
    for (int b = 1; b <= n && !tooMany; ++b) {
        product *= static_cast<WideCount>(segmentCounts[b]);
        tooMany = product > limit;  // checked at every step: no overflow
    }
    if (tooMany) {
        std::string factors;
        for (int b = 1; b <= n; ++b) {
            if (b > 1) factors += " x ";
            factors += std::to_string(segmentCounts[b]);
        }
        return Result<CodeTable>::Failure(" The bands' segment counts give " + factors + " = " +
                                          DecimalProduct(segmentCounts) + " codes, more than the " +
                                          WideText(limit) +
                                          " this program can handle \nUse fewer segments ");
    }
    try {
        CodeTable table;
        table.sparse_ = product > WideCount{kMaximumCodeCount};
        table.total_ = product;
        table.CodeCount = table.sparse_ ? 0 : static_cast<int>(product);
        table.segmentCounts = segmentCounts;
        table.segmentCounts[0] = 0;
        table.weights_.assign(static_cast<size_t>(n) + 1, 0);
        table.weights_[n] = 1;
        // Wraps to 0 only for a first band of one segment in a table of 2^64 codes, whose
        // digit is always 1 (DigitOfOffset).
        for (int b = n - 1; b >= 1; --b)
            table.weights_[b] = table.weights_[b + 1] * static_cast<CodeOffset>(segmentCounts[b + 1]);
        if (table.sparse_) table.held_.assign(1, 0);
        return Result<CodeTable>::Of(std::move(table));
    } catch (const std::bad_alloc&) {
        return Result<CodeTable>::Failure(" Not enough memory for the code table ");
    }
}

std::string WideText(WideCount value) {
    DecimalText text;
    text.Set(value);
    return std::string(text.Text(), static_cast<size_t>(text.Length()));
}

std::string CodeTable::TotalText() const { return WideText(total_); }

std::string CodeTable::CodeText(int code) const {
    return WideText(static_cast<WideCount>(Offset(code)) + 1);
}

void CodeTable::Hold(std::vector<CodeOffset> offsets) {
    held_ = std::move(offsets);
    if (held_.empty()) held_.assign(1, 0);
    CodeCount = static_cast<int>(held_.size()) - 1;
}

int CodeTable::CodeOf(const int* digits) const {
    const int n = BandCount();
    int64_t code = 1;
    for (int b = 1; b <= n; ++b) {
        const int digit = digits[b];
        if (digit < 1 || digit > segmentCounts[b]) return 0;
        code += (digit - 1) * static_cast<int64_t>(weights_[b]);
    }
    return static_cast<int>(code);
}

std::string MultiTabText(const CodeTable& table, const std::vector<int64_t>* pixelCount) {
    std::string text;
    try {
        ProduceMultiTab(
            table, kMultiTabPiece,
            [&](std::string_view piece) {
                text.append(piece);
                return true;
            },
            pixelCount);
    } catch (const std::bad_alloc&) {
        return {};  // too large to hold: WriteMultiTab streams it instead
    }
    return text;
}

Status WriteMultiTab(const std::string& path, const CodeTable& table) {
    try {
        return WriteFileAtomically(path, [&](std::FILE* file) {
            return ProduceMultiTab(
                table, kMultiTabPiece,
                [&](std::string_view piece) {
                    return std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
                },
                nullptr);
        });
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to write " + path + " ");
    }
}

bool WriteMultiTab(StagedFile& file, const CodeTable& table,
                   const std::vector<int64_t>* pixelCount) {
    try {
        int64_t offset = 0;
        return ProduceMultiTab(
            table, kMultiTabPiece,
            [&](std::string_view piece) {
                const bool written = file.WriteAt(offset, piece.data(), piece.size());
                offset += static_cast<int64_t>(piece.size());
                return written;
            },
            pixelCount);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace tessera
