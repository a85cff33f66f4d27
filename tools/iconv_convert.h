#pragma once

#include <iconv.h>

#include <string>

// What glibc's iconv makes of the input, or "" when it refuses any of it:
// the reference the CP932 tables are made from and checked against.
inline std::string iconvConvert(const char* to, const char* from, const std::string& input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out(input.size() * 4 + 4, '\0');  // room for UTF-32 from any input
    auto* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size(), outLeft = out.size();
    char* outPtr = out.data();
    bool ok = iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(ok ? outPtr - out.data() : 0);
    return out;
}
