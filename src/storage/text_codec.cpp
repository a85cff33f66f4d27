#include "storage/text_codec.h"

#include <algorithm>
#include <cstdint>

#include "storage/cp932_table.h"
#include "storage/utf8.h"

namespace tovlane {
namespace {

unsigned char byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

// Length of the UTF-8 sequence a lead byte starts, or 0 when it cannot lead.
std::size_t leadSequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Rejects overlong forms, surrogates and code points beyond U+10FFFF.
bool secondByteAllowed(unsigned char lead, unsigned char second) {
    if (lead == 0xE0)
        return second >= 0xA0;
    if (lead == 0xED)
        return second <= 0x9F;
    if (lead == 0xF0)
        return second >= 0x90;
    if (lead == 0xF4)
        return second <= 0x8F;
    return true;
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view bytes) {
    unsigned char lead = byteAt(bytes, 0);
    std::size_t length = leadSequenceLength(lead);
    if (length == 0 || length > bytes.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byteAt(bytes, k) & 0xC0) != 0x80)
            return 0;
    }
    if (length > 1 && !secondByteAllowed(lead, byteAt(bytes, 1)))
        return 0;
    return length;
}

namespace {

std::uint16_t doubleByteCodePoint(unsigned char lead, unsigned char trail) {
    int row = -1;
    if (lead >= 0x81 && lead <= 0x9F)
        row = lead - 0x81;
    else if (lead >= 0xE0 && lead <= 0xFC)
        row = lead - 0xE0 + 0x1F;
    if (row < 0 || trail < 0x40 || trail > 0xFC)
        return cp932::kUnmapped;
    return cp932::kDoubleByte[row * cp932::kTrailBytes + (trail - 0x40)];
}

// How many bytes the CP932 character at the front of bytes (not empty) takes,
// or 0 when CP932 cannot read its first byte.
std::size_t cp932CharacterLength(std::string_view bytes) {
    unsigned char b = byteAt(bytes, 0);
    if (b < 0x80 || cp932::kSingleByte[b - 0x80] != cp932::kUnmapped)
        return 1;
    if (bytes.size() > 1 && doubleByteCodePoint(b, byteAt(bytes, 1)) != cp932::kUnmapped)
        return 2;
    return 0;
}

// The CP932 code of a non-ASCII code point, or 0 when CP932 has none.
std::uint32_t cp932CodeOf(char32_t cp) {
    const std::uint32_t* end = cp932::kEncode + cp932::kEncodeCount;
    const std::uint32_t* at = std::lower_bound(cp932::kEncode, end, std::uint32_t(cp) << 16);
    return (at != end && (*at >> 16) == cp) ? (*at & 0xFFFF) : 0;
}

}  // namespace

char32_t codePointOf(std::string_view sequence) {
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    if (sequence.empty() || sequence.size() > 4 || utf8SequenceLength(sequence) != sequence.size())
        return 0xFFFD;
    char32_t cp = byteAt(sequence, 0) & kLeadMask[sequence.size()];
    for (std::size_t k = 1; k < sequence.size(); ++k)
        cp = (cp << 6) | (byteAt(sequence, k) & 0x3Fu);
    return cp;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = utf8SequenceLength(bytes.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string decodeFileText(std::string bytes) {
    return isValidUtf8(bytes) ? bytes : decodeCp932(bytes);
}

std::string decodeCp932(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    decodeCp932Part(out, bytes, bytes.size());
    return out;
}

std::size_t decodeCp932Part(std::string& out, std::string_view bytes, std::size_t atLeast) {
    std::size_t i = 0;
    while (i < bytes.size() && i < atLeast) {
        unsigned char b = byteAt(bytes, i);
        char32_t cp = b < 0x80 ? b : cp932::kSingleByte[b - 0x80];
        std::size_t used = 1;
        if (cp == cp932::kUnmapped && i + 1 < bytes.size()) {
            cp = doubleByteCodePoint(b, byteAt(bytes, i + 1));
            used = 2;
        }
        if (cp == cp932::kUnmapped) {
            cp = 0xFFFD;
            used = 1;
        }
        appendUtf8(out, cp);
        i += used;
    }
    return i;
}

void repairCp932(std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = cp932CharacterLength(std::string_view(bytes).substr(i));
        if (length == 0)
            bytes[i] = '?';
        i += std::max<std::size_t>(length, 1);
    }
}

std::string encodeCp932(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    appendCp932(out, utf8);
    return out;
}

namespace {

// The character at the front of utf8 (not empty): its CP932 code, none when
// CP932 cannot hold it or for a byte that is not UTF-8, and its length.
struct Cp932Character {
    std::optional<std::uint32_t> code;
    std::size_t length;
};

Cp932Character nextCp932Character(std::string_view utf8) {
    if (byteAt(utf8, 0) < 0x80)
        return {byteAt(utf8, 0), 1};
    std::size_t length = utf8SequenceLength(utf8);
    if (length == 0)
        return {std::nullopt, 1};
    std::uint32_t code = cp932CodeOf(codePointOf(utf8.substr(0, length)));
    return {code == 0 ? std::nullopt : std::optional(code), length};
}

}  // namespace

void appendCp932(std::string& out, std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        auto [code, length] = nextCp932Character(utf8.substr(i));
        i += length;
        if (!code)
            out += '?';
        else if (*code < 0x100)
            out += static_cast<char>(*code);
        else
            out.append({static_cast<char>(*code >> 8), static_cast<char>(*code & 0xFF)});
    }
}

std::optional<std::pair<std::size_t, std::size_t>> firstNotInCp932(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        auto [code, length] = nextCp932Character(utf8.substr(i));
        if (!code)
            return std::pair{i, length};
        i += length;
    }
    return std::nullopt;
}

}  // namespace tovlane
