// Internal to the engine: KV_TRY / KV_CHECK, early return of a failed Result inside functions that
// themselves return a Result, so that the parser and evaluator read straight through.
#pragma once

#include <expected>
#include <utility>

// Yields the value of a Result, or returns its error from the enclosing function.
#define KV_TRY(...)                                                       \
  __extension__({                                                         \
    auto&& kv_try_r_ = (__VA_ARGS__);                                     \
    if (!kv_try_r_) return std::unexpected(std::move(kv_try_r_.error())); \
    std::move(*kv_try_r_);                                                \
  })

// Returns the error of a Result<void> (or any Result whose value is not needed).
#define KV_CHECK(...)                                                         \
  do {                                                                        \
    auto&& kv_check_r_ = (__VA_ARGS__);                                       \
    if (!kv_check_r_) return std::unexpected(std::move(kv_check_r_.error())); \
  } while (0)
