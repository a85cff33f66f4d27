#pragma once

#include <iconv.h>

#include <string>

// What glibc's iconv makes of a short input (a character or two), or "" when
// it refuses any of it: the reference the CP932 tables are made from and
// checked against.
inline std::string iconvConvert(const char* to, const char* from, const std::string& input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    char out[16];
    auto* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size(), outLeft = sizeof out;
    char* outPtr = out;
    bool ok = iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    return ok ? std::string(out, outPtr) : std::string();
}
