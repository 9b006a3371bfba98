// The `option` word: bit n is the n-th OPT_* constant in the order the module
// adds them. Bits 34 to 63 have no name and are ignored everywhere.
#pragma once
#include <array>
#include <cstdint>

namespace qf::opt {

inline constexpr uint64_t YAML_1_1 = 1ull << 0;
inline constexpr uint64_t KESTIL_COMPAT = 1ull << 1;
inline constexpr uint64_t UPGRADE_1_1 = 1ull << 2;
inline constexpr uint64_t YAML_1_1_WARN = 1ull << 3;
inline constexpr uint64_t ROUND_TRIP = 1ull << 4;
inline constexpr uint64_t ANNOTATED = 1ull << 5;
inline constexpr uint64_t ANNOTATE_NUMBERS = 1ull << 6;
inline constexpr uint64_t INCLUDES = 1ull << 7;
inline constexpr uint64_t INCLUDE_DIR_RECURSIVE = 1ull << 8;
inline constexpr uint64_t SECRETS = 1ull << 9;
inline constexpr uint64_t ENV_VAR = 1ull << 10;
inline constexpr uint64_t SECRET_NOT_FOUND_WARN = 1ull << 11;
inline constexpr uint64_t ENV_VAR_NOT_FOUND_WARN = 1ull << 12;
inline constexpr uint64_t PASSTHROUGH_TAG = 1ull << 13;
inline constexpr uint64_t DUPLICATE_KEYS_ERROR = 1ull << 14;
inline constexpr uint64_t DUPLICATE_KEYS_WARN = 1ull << 15;
inline constexpr uint64_t REJECT_COMPLEX_KEYS = 1ull << 16;
inline constexpr uint64_t INDENT_2 = 1ull << 17;
inline constexpr uint64_t INDENT_4 = 1ull << 18;
inline constexpr uint64_t INDENTLESS_SEQUENCES = 1ull << 19;
inline constexpr uint64_t FLOW_STYLE = 1ull << 20;
inline constexpr uint64_t SORT_KEYS = 1ull << 21;
inline constexpr uint64_t EXPLICIT_START = 1ull << 22;
inline constexpr uint64_t EXPLICIT_END = 1ull << 23;
inline constexpr uint64_t SINGLE_QUOTES = 1ull << 24;
inline constexpr uint64_t NULL_AS_KEYWORD = 1ull << 25;
inline constexpr uint64_t NULL_AS_TILDE = 1ull << 26;
inline constexpr uint64_t SERIALIZE_NUMPY = 1ull << 27;
inline constexpr uint64_t PASSTHROUGH_DATETIME = 1ull << 28;
inline constexpr uint64_t PASSTHROUGH_DATACLASS = 1ull << 29;
inline constexpr uint64_t OMIT_MICROSECONDS = 1ull << 30;
inline constexpr uint64_t NAIVE_UTC = 1ull << 31;
inline constexpr uint64_t UTC_Z = 1ull << 32;
inline constexpr uint64_t TIMESTAMPS = 1ull << 33;

// Host names in bit order.
inline constexpr std::array<const char*, 34> kNames = {
    "OPT_YAML_1_1",          "OPT_KESTIL_COMPAT",        "OPT_UPGRADE_1_1",         "OPT_YAML_1_1_WARN",
    "OPT_ROUND_TRIP",        "OPT_ANNOTATED",            "OPT_ANNOTATE_NUMBERS",    "OPT_INCLUDES",
    "OPT_INCLUDE_DIR_RECURSIVE", "OPT_SECRETS",          "OPT_ENV_VAR",             "OPT_SECRET_NOT_FOUND_WARN",
    "OPT_ENV_VAR_NOT_FOUND_WARN", "OPT_PASSTHROUGH_TAG", "OPT_DUPLICATE_KEYS_ERROR", "OPT_DUPLICATE_KEYS_WARN",
    "OPT_REJECT_COMPLEX_KEYS", "OPT_INDENT_2",           "OPT_INDENT_4",            "OPT_INDENTLESS_SEQUENCES",
    "OPT_FLOW_STYLE",        "OPT_SORT_KEYS",            "OPT_EXPLICIT_START",      "OPT_EXPLICIT_END",
    "OPT_SINGLE_QUOTES",     "OPT_NULL_AS_KEYWORD",      "OPT_NULL_AS_TILDE",       "OPT_SERIALIZE_NUMPY",
    "OPT_PASSTHROUGH_DATETIME", "OPT_PASSTHROUGH_DATACLASS", "OPT_OMIT_MICROSECONDS", "OPT_NAIVE_UTC",
    "OPT_UTC_Z",             "OPT_TIMESTAMPS",
};

}  // namespace qf::opt
