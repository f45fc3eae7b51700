// korvel::engine::Value — the engine's value: undefined, none, bool, 128-bit integer, float, string
// (with a safe mark), bytes, sequence, map (keeps key order) and object (macros, loop, namespace,
// cycler...). Cheap to copy: scalars and short strings are stored inline, everything else is
// reference counted or borrowed. A Value never changes once built (objects may keep their own
// state). JSON context values are borrowed, never copied: the caller keeps the json::Value alive
// for the whole rendering.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel/engine/error.hpp"
#include "korvel/json/value.hpp"

namespace korvel::engine {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;
inline constexpr Int128 kInt128Max = static_cast<Int128>((static_cast<UInt128>(1) << 127) - 1);
inline constexpr Int128 kInt128Min = -kInt128Max - 1;

// Largest text the engine builds for one value: display forms, concatenations, repetitions.
inline constexpr std::size_t kMaxDisplayBytes = std::size_t{64} << 20;

enum class ValueKind : std::uint8_t {
  Undefined,
  None,
  Bool,
  Int,
  Float,
  String,
  Bytes,
  Seq,
  Map,
  Object,
};

// "undefined", "none", "bool", "integer", "float", "string", "bytes", "sequence", "map", "object".
std::string_view kind_name(ValueKind kind) noexcept;

class Object;
class Value;
using MapEntries = std::vector<std::pair<Value, Value>>;

namespace detail {
// Reference-counted heap cell shared by strings, sequences, maps and objects.
struct HeapCell {
  enum class Tag : std::uint8_t { Other, Seq, Map };
  explicit HeapCell(Tag t = Tag::Other) noexcept : tag(t) {}
  mutable std::atomic<std::uint32_t> refs{1};
  const Tag tag;
  virtual ~HeapCell() = default;
};
}  // namespace detail

class Value {
 public:
  Value() noexcept { u_.i[0] = u_.i[1] = 0; }  // undefined
  Value(const Value& other) noexcept
      : kind_(other.kind_),
        rep_(other.rep_),
        safe_(other.safe_),
        small_len_(other.small_len_),
        u_(other.u_) {
    retain();
  }
  Value(Value&& other) noexcept
      : kind_(other.kind_),
        rep_(other.rep_),
        safe_(other.safe_),
        small_len_(other.small_len_),
        u_(other.u_) {
    other.kind_ = ValueKind::Undefined;
    other.rep_ = Rep::Inline;
  }
  Value& operator=(const Value& other) noexcept {
    if (this != &other) {
      other.retain();
      release();
      kind_ = other.kind_;
      rep_ = other.rep_;
      safe_ = other.safe_;
      small_len_ = other.small_len_;
      u_ = other.u_;
    }
    return *this;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      release();
      kind_ = other.kind_;
      rep_ = other.rep_;
      safe_ = other.safe_;
      small_len_ = other.small_len_;
      u_ = other.u_;
      other.kind_ = ValueKind::Undefined;
      other.rep_ = Rep::Inline;
    }
    return *this;
  }
  ~Value() { release(); }

  // ---- factories ----
  static Value undefined() noexcept { return Value(); }
  static Value none() noexcept;
  static Value from_bool(bool b) noexcept;
  static Value from_int(Int128 i) noexcept;
  static Value from_float(double d) noexcept;
  static Value from_string(std::string s);
  static Value from_string(std::string_view s);
  static Value from_string(const char* s) { return from_string(std::string_view(s)); }
  static Value safe_string(std::string s);
  static Value safe_string(std::string_view s);
  static Value safe_string(const char* s) { return safe_string(std::string_view(s)); }
  // A string with the given safe mark (for filters that keep the mark of their input).
  static Value string_with_mark(std::string s, bool safe);
  // A string that points at text owned by someone else (the template source, the JSON context);
  // the owner must outlive every copy of the value.
  static Value borrowed_string(std::string_view s, bool safe = false) noexcept;
  static Value from_bytes(std::string bytes);
  static Value from_seq(std::vector<Value> items);
  // Keys keep their first position; a repeated key takes the last value (as a Python dict).
  static Value from_map(MapEntries entries);
  // Borrows the JSON tree: arrays and objects are read in place.
  static Value from_json(const json::Value& v) noexcept;
  static Value from_json_object(const json::Object& o) noexcept;
  static Value from_object(std::shared_ptr<Object> object);
  template <class T, class... A>
  static Value make_object(A&&... args) {
    return from_object(std::make_shared<T>(std::forward<A>(args)...));
  }

  // ---- kind ----
  ValueKind kind() const noexcept { return kind_; }
  bool is_undefined() const noexcept { return kind_ == ValueKind::Undefined; }
  bool is_none() const noexcept { return kind_ == ValueKind::None; }
  bool is_bool() const noexcept { return kind_ == ValueKind::Bool; }
  bool is_int() const noexcept { return kind_ == ValueKind::Int; }
  bool is_float() const noexcept { return kind_ == ValueKind::Float; }
  // Integers and floats (not booleans).
  bool is_number() const noexcept { return is_int() || is_float(); }
  bool is_string() const noexcept { return kind_ == ValueKind::String; }
  bool is_bytes() const noexcept { return kind_ == ValueKind::Bytes; }
  bool is_seq() const noexcept { return kind_ == ValueKind::Seq; }
  bool is_map() const noexcept { return kind_ == ValueKind::Map; }
  bool is_object() const noexcept { return kind_ == ValueKind::Object; }
  bool is_safe() const noexcept { return kind_ == ValueKind::String && safe_; }

  // ---- scalar access (unchecked: test the kind first) ----
  bool as_bool() const noexcept { return u_.b; }
  Int128 as_int() const noexcept;
  double as_float() const noexcept { return u_.f; }
  // Text of a string value; nullopt for every other kind. The view lives as long as this value.
  std::optional<std::string_view> as_str() const noexcept {
    if (kind_ != ValueKind::String) return std::nullopt;
    return str();
  }
  // Bytes of a byte string; nullopt for every other kind.
  std::optional<std::string_view> as_bytes() const noexcept;
  // Text of a string value (or byte string), or the empty view. Unchecked convenience.
  std::string_view str() const noexcept {
    switch (rep_) {
      case Rep::Small:
        return std::string_view(u_.small, small_len_);
      case Rep::Borrowed:
        return std::string_view(u_.view.data, u_.view.size);
      case Rep::Heap:
        return kind_ == ValueKind::String || kind_ == ValueKind::Bytes ? heap_text()
                                                                       : std::string_view();
      default:
        return {};
    }
  }
  Object* as_object() const noexcept;
  std::shared_ptr<Object> object_ptr() const;

  // Integer value of a bool, integer or integral float; nullopt otherwise.
  std::optional<Int128> to_int() const noexcept;
  // Float value of a bool, integer or float; nullopt otherwise.
  std::optional<double> to_float() const noexcept;

  // ---- containers ----
  // Characters of a string, bytes, items of a sequence, entries of a map; nullopt for others.
  std::optional<std::size_t> len() const noexcept;
  std::size_t seq_len() const noexcept;            // sequences only
  Value seq_at(std::size_t index) const noexcept;  // sequences only; index < seq_len()
  std::size_t map_len() const noexcept;            // maps only
  MapEntries map_entries() const;                  // maps only, in key order
  std::vector<Value> map_keys() const;             // maps only, in key order
  // What a for loop walks: sequence items, map keys, string characters, bytes as integers;
  // undefined and none-free empties yield nothing. Other kinds fail with InvalidOperation.
  Result<std::vector<Value>> iterate() const;

  // Item lookup: map key, sequence index (negative counts from the end), string character.
  // Undefined when absent or not applicable.
  Value get_item(const Value& key) const;
  // Map entry by string key, or an object's attribute. Undefined when absent.
  Value get_attr(std::string_view name) const;

  // ---- truth, display, JSON ----
  bool is_true() const noexcept;
  // The display form. Past kMaxDisplayBytes of text the listing is cut short with "..." (a value
  // built of shared parts can be far larger than the memory it occupies); use the checked forms
  // where an oversized value must be an error.
  std::string to_display() const;
  void write_display(std::string& out) const;
  // The display form, or InvalidOperation "value too large to display" when it would exceed
  // `max_bytes`; `out` is left as it was on failure.
  Result<void> write_display_checked(std::string& out,
                                     std::size_t max_bytes = kMaxDisplayBytes) const;
  Result<std::string> to_display_checked(std::size_t max_bytes = kMaxDisplayBytes) const;
  Result<void> write_json(std::string& out) const;

  // Python-style equality: 1 == 1.0 == true, strings by text (safe mark ignored), sequences and
  // maps by content, objects by identity.
  friend bool operator==(const Value& a, const Value& b) noexcept;
  // Hash consistent with operator== (for map indexes).
  std::size_t hash() const noexcept;

 private:
  enum class Rep : std::uint8_t { Inline, Small, Borrowed, Heap, JsonArray, JsonObject };
  void retain() const noexcept {
    if (rep_ == Rep::Heap) u_.heap->refs.fetch_add(1, std::memory_order_relaxed);
  }
  void release() noexcept {
    if (rep_ == Rep::Heap) release_heap();
  }
  void release_heap() noexcept;
  std::string_view heap_text() const noexcept;
  friend struct ValueAccess;

  ValueKind kind_ = ValueKind::Undefined;
  Rep rep_ = Rep::Inline;
  bool safe_ = false;
  std::uint8_t small_len_ = 0;
  std::uint32_t pad_ = 0;
  union U {
    bool b;
    std::uint64_t i[2];
    double f;
    char small[16];
    struct {
      const char* data;
      std::size_t size;
    } view;
    detail::HeapCell* heap;
    const json::Array* jarr;
    const json::Object* jobj;
  } u_;
};

// Writes a double in the display form: shortest round-trip digits, plain notation, ".0" when there
// is no decimal point; NaN, inf, -inf.
void write_float_display(double d, std::string& out);
// Writes a double as JSON text (finite only): plain with a fractional digit when the decimal
// exponent is within -5..15, else d[.ddd]e±x.
void write_float_json(double d, std::string& out);
// Writes a string with JSON string escaping and the enclosing quotation marks.
void write_json_string(std::string_view s, std::string& out);
// Decimal text of a 128-bit integer.
void write_int(Int128 i, std::string& out);
std::string int_to_string(Int128 i);

}  // namespace korvel::engine
