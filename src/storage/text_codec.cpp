#include "storage/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace tovlane {
namespace {

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Length of the UTF-8 sequence a lead byte starts, or 0 when it cannot lead.
std::size_t utf8SequenceLength(unsigned char lead) {
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

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
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

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of input; onInvalid(rest, out) decides what an unconvertible
    // sequence becomes and returns how many input bytes it consumes.
    template <typename OnInvalid>
    std::string convert(std::string_view input, OnInvalid onInvalid) {
        std::string out;
        char buffer[1024];
        auto* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            std::size_t rc = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            int error = errno;
            out.append(buffer, outPtr);
            if (rc != static_cast<std::size_t>(-1) || error == E2BIG)
                continue;
            std::size_t skip = onInvalid(std::string_view(in, inLeft), out);
            in += skip;
            inLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

  private:
    iconv_t cd_;
};

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = utf8SequenceLength(lead);
        if (length == 0 || i + length > bytes.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if (!isContinuation(static_cast<unsigned char>(bytes[i + k])))
                return false;
        }
        if (length > 1 && !secondByteAllowed(lead, static_cast<unsigned char>(bytes[i + 1]))) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string decodeFileText(std::string_view bytes) {
    return isValidUtf8(bytes) ? std::string(bytes) : decodeCp932(bytes);
}

std::string decodeCp932(std::string_view bytes) {
    if (isAscii(bytes))
        return std::string(bytes);
    Converter cp932("UTF-8", "CP932");
    return cp932.convert(bytes, [](std::string_view, std::string& out) {
        out += "\xEF\xBF\xBD";
        return std::size_t{1};
    });
}

std::string encodeCp932(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);  // spares loading the converter
    Converter cp932("CP932", "UTF-8");
    return cp932.convert(utf8, [](std::string_view rest, std::string& out) {
        out += '?';
        std::size_t length = utf8SequenceLength(static_cast<unsigned char>(rest.front()));
        return std::clamp<std::size_t>(length, 1, rest.size());
    });
}

}  // namespace tovlane
