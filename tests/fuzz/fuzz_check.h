#pragma once

#include <cassert>  // the targets check their invariants with assert, in every build
#include <cstdint>
#include <string_view>

// Splits off the text up to the next NUL byte (all of it when there is none).
inline std::string_view takeField(std::string_view& input) {
    std::size_t nul = input.find('\0');
    std::string_view field = input.substr(0, nul);
    input.remove_prefix(nul == std::string_view::npos ? input.size() : nul + 1);
    return field;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
