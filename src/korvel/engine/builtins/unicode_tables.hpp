// Internal: the character data behind the built-in text filters (case mappings and character
// classes as Python's str methods see them). Generated into unicode_tables.cc by
// unicode_tables_gen.py; read only through str_ops.hpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvel::engine::builtins::detail {

// Code points first, first + stride, ..., last map to code point + delta.
struct CaseRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint8_t stride;
};

// A code point whose mapping is several code points (zero-terminated when shorter than three).
struct CaseSpecial {
  char32_t cp;
  char32_t out[3];
};

struct CodeRange {
  char32_t lo;
  char32_t hi;
};

// Decimal digits lo..hi with the values first_value, first_value + 1, ...
struct DecimalRun {
  char32_t lo;
  char32_t hi;
  int first_value;
};

extern const CaseRun kUpper_runs[];
extern const std::size_t kUpper_runs_size;
extern const CaseSpecial kUpper_special[];
extern const std::size_t kUpper_special_size;
extern const CaseRun kLower_runs[];
extern const std::size_t kLower_runs_size;
extern const CaseSpecial kLower_special[];
extern const std::size_t kLower_special_size;
// Title case only where it differs from upper case.
extern const CaseRun kTitle_runs[];
extern const std::size_t kTitle_runs_size;
extern const CaseSpecial kTitle_special[];
extern const std::size_t kTitle_special_size;

extern const CodeRange kSpace[];
extern const std::size_t kSpace_size;
extern const CodeRange kAlnum[];
extern const std::size_t kAlnum_size;
extern const CodeRange kLowerChar[];
extern const std::size_t kLowerChar_size;
extern const CodeRange kUpperChar[];
extern const std::size_t kUpperChar_size;
extern const CodeRange kTitleChar[];
extern const std::size_t kTitleChar_size;
// Cased and case-ignorable characters: the context of the final form of capital sigma.
extern const CodeRange kCased[];
extern const std::size_t kCased_size;
extern const CodeRange kCaseIgnorable[];
extern const std::size_t kCaseIgnorable_size;
// Every decimal digit (general category Nd), as int() and float() read them.
extern const DecimalRun kDecimal[];
extern const std::size_t kDecimal_size;

}  // namespace korvel::engine::builtins::detail
