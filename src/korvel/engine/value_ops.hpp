// korvel::engine value operations — the arithmetic, comparison, membership and concatenation
// semantics of the language (Python's, with 128-bit integers whose overflow is an error). The
// evaluator and the built-in filters (sum, max, min, sort...) share them.
#pragma once

#include <cstdint>
#include <optional>

#include "korvel/engine/error.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine {

enum class BinaryOp : std::uint8_t { Add, Sub, Mul, Div, FloorDiv, Mod, Pow };

// `a op b` with Python semantics: bools count as integers; int op int stays integer (overflow is
// an InvalidOperation error, never a wrong number) except `/`; string + string concatenates;
// string/sequence * integer repeats (bounded in size); sequence + sequence concatenates. Division
// or modulo by zero is an InvalidOperation error.
Result<Value> binary_op(BinaryOp op, const Value& a, const Value& b);

// `-a` and `+a`.
Result<Value> negate(const Value& a);
Result<Value> unary_plus(const Value& a);

// `a ~ b`: display forms joined; safe only when both sides are safe strings. Fails with
// InvalidOperation past kMaxDisplayBytes.
Result<Value> concat(const Value& a, const Value& b);

// Ordering for `<` and friends: numbers with numbers, strings with strings, sequences
// lexicographically. Other pairs fail with InvalidOperation. Returns <0, 0 or >0.
Result<int> compare(const Value& a, const Value& b);

// A total order over all values for sorting: by kind rank first (undefined, none, bool and
// numbers together, strings, bytes, sequences, maps, objects), then by value.
int total_order(const Value& a, const Value& b) noexcept;

// `item in container`: substring, sequence element, map key. Undefined container yields false;
// other kinds fail with InvalidOperation.
Result<bool> contains(const Value& container, const Value& item);

// Checked 128-bit integer arithmetic: nullopt on overflow.
std::optional<Int128> checked_add(Int128 a, Int128 b) noexcept;
std::optional<Int128> checked_sub(Int128 a, Int128 b) noexcept;
std::optional<Int128> checked_mul(Int128 a, Int128 b) noexcept;

// Largest string or sequence that `*` repetition and `+` may build (64 MiB / 8 Mi items).
inline constexpr std::size_t kMaxRepeatBytes = kMaxDisplayBytes;
inline constexpr std::size_t kMaxRepeatItems = std::size_t{8} << 20;

}  // namespace korvel::engine
