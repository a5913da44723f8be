// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/IntText.h"

#include "common/Error.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace rastrace {

void ThrowOutOfMemory() { throw Error("Out of memory"); }

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return false;  // empty, a lone sign or a lone prefix

    if (hex) {
        uint64_t v = 0;
        for (; i < text.size(); ++i) {
            const int d = HexDigit(text[i]);
            if (d < 0) return false;
            v = v * 16 + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFull) return false;
        }
        const auto bits = static_cast<uint32_t>(v);
        // The 32 bits are read as a signed value, then negated by "-".
        const auto asSigned = static_cast<int32_t>(bits);
        value = negative ? static_cast<int32_t>(0u - bits) : asSigned;
        return true;
    }

    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 2147483648ull) return false;
    }
    if (!negative && v > 2147483647ull) return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
    return true;
}

std::string NotValidIntegerMessage(std::string_view text) {
    std::string message = "'";
    message.append(text);
    message += "' is not a valid integer value";
    return message;
}

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) throw Error(NotValidIntegerMessage(text));
    return value;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : fallback;
}

char* AppendDecimalPadded(char* out, int64_t value, int minDigits) {
    // Two digits a step from a table, written straight into place: records
    // are mostly numbers, and this is the hot path of writing them.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (value < 0) *out++ = '-';
    int n = 1;
    for (uint64_t rest = magnitude; rest >= 10; rest /= 10) ++n;
    for (int pad = minDigits - n; pad > 0; --pad) *out++ = '0';
    char* p = out + n;
    while (magnitude >= 100) {
        const auto pair = static_cast<size_t>(magnitude % 100) * 2;
        magnitude /= 100;
        *--p = kPairs[pair + 1];
        *--p = kPairs[pair];
    }
    if (magnitude >= 10) {
        const auto pair = static_cast<size_t>(magnitude) * 2;
        *--p = kPairs[pair + 1];
        *--p = kPairs[pair];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return out + n;
}

char* AppendDecimal(char* out, int64_t value) { return AppendDecimalPadded(out, value, 1); }

std::string IntToStr(int64_t value) {
    char buffer[24];
    char* end = AppendDecimal(buffer, value);
    return std::string(buffer, end);
}

std::string FixedText(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace rastrace
