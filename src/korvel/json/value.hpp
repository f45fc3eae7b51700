// korvel::json::Value — the JSON value that compose variables are made of and that the template
// engine takes as its context: null, boolean, signed or unsigned 64-bit integer, finite double,
// text, array, and object whose keys are unique and kept in ascending byte order.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace korvel::json {

class Value;

using Array = std::vector<Value>;
// std::string compares through char_traits<char>, which orders bytes as unsigned: ascending byte
// order.
using Object = std::map<std::string, Value, std::less<>>;

enum class Kind : std::uint8_t { Null, Bool, Int, UInt, Double, String, Array, Object };

class Value {
 public:
  using Storage = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double,
                               std::string, Array, Object>;

  Value() noexcept = default;
  Value(std::nullptr_t) noexcept {}
  Value(bool b) noexcept : storage_(b) {}
  template <std::signed_integral I>
  requires(!std::same_as<I, bool> && !std::same_as<I, char>) Value(I i)
  noexcept : storage_(static_cast<std::int64_t>(i)) {}
  template <std::unsigned_integral U>
  requires(!std::same_as<U, bool> && !std::same_as<U, char>) Value(U u)
  noexcept : storage_(static_cast<std::uint64_t>(u)) {}
  Value(double d) noexcept : storage_(d) {}
  Value(std::string s) noexcept : storage_(std::move(s)) {}
  Value(std::string_view s) : storage_(std::string(s)) {}
  Value(const char* s) : storage_(std::string(s)) {}
  Value(Array a) noexcept : storage_(std::move(a)) {}
  Value(Object o) noexcept : storage_(std::move(o)) {}

  Kind kind() const noexcept { return static_cast<Kind>(storage_.index()); }
  bool is_null() const noexcept { return kind() == Kind::Null; }
  bool is_bool() const noexcept { return kind() == Kind::Bool; }
  bool is_int() const noexcept { return kind() == Kind::Int; }
  bool is_uint() const noexcept { return kind() == Kind::UInt; }
  bool is_double() const noexcept { return kind() == Kind::Double; }
  bool is_number() const noexcept { return is_int() || is_uint() || is_double(); }
  bool is_string() const noexcept { return kind() == Kind::String; }
  bool is_array() const noexcept { return kind() == Kind::Array; }
  bool is_object() const noexcept { return kind() == Kind::Object; }

  // Unchecked accessors: call only after testing the kind.
  bool as_bool() const { return std::get<bool>(storage_); }
  std::int64_t as_int() const { return std::get<std::int64_t>(storage_); }
  std::uint64_t as_uint() const { return std::get<std::uint64_t>(storage_); }
  double as_double() const { return std::get<double>(storage_); }
  const std::string& as_string() const { return std::get<std::string>(storage_); }
  const Array& as_array() const { return std::get<Array>(storage_); }
  const Object& as_object() const { return std::get<Object>(storage_); }
  std::string& as_string() { return std::get<std::string>(storage_); }
  Array& as_array() { return std::get<Array>(storage_); }
  Object& as_object() { return std::get<Object>(storage_); }

  // Checked accessors: nullptr when the kind differs.
  const std::string* if_string() const noexcept { return std::get_if<std::string>(&storage_); }
  const Array* if_array() const noexcept { return std::get_if<Array>(&storage_); }
  const Object* if_object() const noexcept { return std::get_if<Object>(&storage_); }

  const Storage& storage() const noexcept { return storage_; }
  Storage& storage() noexcept { return storage_; }

  friend bool operator==(const Value& a, const Value& b) { return a.storage_ == b.storage_; }

 private:
  Storage storage_;
};

}  // namespace korvel::json
