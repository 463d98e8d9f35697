#pragma once
// A broken promise of a parser is a finding: stop with a message the fuzzer keeps beside the
// input that caused it.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

inline std::string_view fuzzInput(const unsigned char* data, std::size_t size)
{
    return std::string_view(reinterpret_cast<const char*>(data), size);
}
