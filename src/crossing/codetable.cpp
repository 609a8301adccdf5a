#include "crossing/codetable.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <new>
#include <string_view>

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

void AppendNumber(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// Produces the code list in pieces of about `chunk` bytes; stops when `emit` returns false.
bool ProduceMultiTab(const CodeTable& table, size_t chunk,
                     const std::function<bool(std::string_view)>& emit) {
    const int n = table.BandCount();
    std::string buffer;
    buffer.reserve(chunk + 256);
    auto flushIfFull = [&]() {
        if (buffer.size() < chunk) return true;
        const bool ok = emit(buffer);
        buffer.clear();
        return ok;
    };
    for (int code = 1; code <= table.CodeCount; ++code) {
        AppendNumber(buffer, code);
        buffer += '\t';
        for (int b = 1; b <= n; ++b) {
            AppendNumber(buffer, table.Digits(code, b));
            buffer += '\t';
        }
        buffer += '\n';
        if (!flushIfFull()) return false;
    }
    // Each code's digits read as one decimal number (64-bit: ten digits up to 254 overflow
    // 32 bits).
    for (int code = 1; code <= table.CodeCount; ++code) {
        int64_t number = 0;
        for (int b = 1; b <= n; ++b) number = number * 10 + table.Digits(code, b);
        AppendNumber(buffer, number);
        buffer += '\t';
        if (!flushIfFull()) return false;
    }
    return buffer.empty() || emit(buffer);
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
