// korvel::engine::Value — construction, copying, container access, truthiness, equality, hashing,
// and the display form and JSON text of values.
#include "korvel/engine/value.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "korvel/engine/object.hpp"
#include "korvel/engine/value_heap.hpp"
#include "korvel/json/writer.hpp"
#include "korvel/text/utf8.hpp"

namespace korvel::engine {

std::string_view kind_name(ValueKind kind) noexcept {
  switch (kind) {
    case ValueKind::Undefined:
      return "undefined";
    case ValueKind::None:
      return "none";
    case ValueKind::Bool:
      return "bool";
    case ValueKind::Int:
      return "integer";
    case ValueKind::Float:
      return "float";
    case ValueKind::String:
      return "string";
    case ValueKind::Bytes:
      return "bytes";
    case ValueKind::Seq:
      return "sequence";
    case ValueKind::Map:
      return "map";
    case ValueKind::Object:
      return "object";
  }
  return "value";
}

// ---------------------------------------------------------------- heap cells

namespace detail {

namespace {
// Takes the children of a sequence or map cell that is about to die with its last reference, so
// that a deeply nested value is torn down without recursion.
bool owned_container(const Value& v) {
  const HeapCell* cell = ValueAccess::cell(v);
  return cell && cell->tag != HeapCell::Tag::Other &&
         cell->refs.load(std::memory_order_acquire) == 1;
}

void drain(std::vector<Value>& pending, Value& v) {
  if (!owned_container(v)) return;
  auto* cell = ValueAccess::cell(v);
  if (cell->tag == HeapCell::Tag::Seq) {
    auto* seq = static_cast<HeapSeq*>(cell);
    for (auto& item : seq->items) pending.push_back(std::move(item));
    seq->items.clear();
  } else {
    auto* map = static_cast<HeapMap*>(cell);
    for (auto& [k, val] : map->entries) {
      pending.push_back(std::move(k));
      pending.push_back(std::move(val));
    }
    map->entries.clear();
  }
}

void teardown(std::vector<Value>& pending) {
  while (!pending.empty()) {
    Value v = std::move(pending.back());
    pending.pop_back();
    drain(pending, v);
  }
}
}  // namespace

HeapSeq::~HeapSeq() {
  // Only a child container that dies with this one needs the iterative teardown.
  std::vector<Value> pending;
  for (auto& item : items) {
    if (owned_container(item)) drain(pending, item);
  }
  if (!pending.empty()) teardown(pending);
}

HeapMap::~HeapMap() {
  std::vector<Value> pending;
  for (auto& [k, v] : entries) {
    if (owned_container(v)) drain(pending, v);
  }
  if (!pending.empty()) teardown(pending);
}

std::ptrdiff_t HeapMap::find(const Value& key) const noexcept {
  if (index.empty()) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].first == key) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  const std::size_t mask = index.size() - 1;
  for (std::size_t slot = key.hash() & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t pos = index[slot];
    if (pos == kEmpty) return -1;
    if (entries[pos].first == key) return pos;
  }
}

std::ptrdiff_t HeapMap::find_str(std::string_view key) const noexcept {
  if (index.empty()) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      auto s = entries[i].first.as_str();
      if (s && *s == key) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  return find(Value::borrowed_string(key));
}

void HeapMap::index_add(std::uint32_t position) {
  const std::size_t mask = index.size() - 1;
  std::size_t slot = entries[position].first.hash() & mask;
  while (index[slot] != kEmpty) slot = (slot + 1) & mask;
  index[slot] = position;
}

void HeapMap::rebuild_index() {
  std::size_t cap = 16;
  while (cap < entries.size() * 2) cap <<= 1;
  index.assign(cap, kEmpty);
  for (std::uint32_t i = 0; i < entries.size(); ++i) index_add(i);
}

void HeapMap::insert(Value key, Value value) {
  const std::ptrdiff_t at = find(key);
  if (at >= 0) {
    entries[static_cast<std::size_t>(at)].second = std::move(value);
    return;
  }
  entries.emplace_back(std::move(key), std::move(value));
  if (entries.size() >= kIndexFrom) {
    if (index.size() < entries.size() * 2) {
      rebuild_index();
    } else {
      index_add(static_cast<std::uint32_t>(entries.size() - 1));
    }
  }
}

}  // namespace detail

// ---------------------------------------------------------------- copying

void Value::release_heap() noexcept {
  if (u_.heap->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete u_.heap;
}

// ---------------------------------------------------------------- factories

Value Value::none() noexcept {
  Value v;
  v.kind_ = ValueKind::None;
  return v;
}

Value Value::from_bool(bool b) noexcept {
  Value v;
  v.kind_ = ValueKind::Bool;
  v.u_.b = b;
  return v;
}

Value Value::from_int(Int128 i) noexcept {
  Value v;
  v.kind_ = ValueKind::Int;
  std::memcpy(v.u_.i, &i, sizeof i);
  return v;
}

Value Value::from_float(double d) noexcept {
  Value v;
  v.kind_ = ValueKind::Float;
  v.u_.f = d;
  return v;
}

Value Value::from_string(std::string s) { return string_with_mark(std::move(s), false); }
Value Value::safe_string(std::string s) { return string_with_mark(std::move(s), true); }
Value Value::from_string(std::string_view s) { return string_with_mark(std::string(s), false); }
Value Value::safe_string(std::string_view s) { return string_with_mark(std::string(s), true); }

Value Value::string_with_mark(std::string s, bool safe) {
  Value v;
  v.kind_ = ValueKind::String;
  v.safe_ = safe;
  if (s.size() <= sizeof v.u_.small) {
    v.rep_ = Rep::Small;
    v.small_len_ = static_cast<std::uint8_t>(s.size());
    if (!s.empty()) std::memcpy(v.u_.small, s.data(), s.size());
  } else {
    v.rep_ = Rep::Heap;
    v.u_.heap = new detail::HeapString(std::move(s));
  }
  return v;
}

Value Value::borrowed_string(std::string_view s, bool safe) noexcept {
  Value v;
  v.kind_ = ValueKind::String;
  v.safe_ = safe;
  if (s.size() <= sizeof v.u_.small) {
    v.rep_ = Rep::Small;
    v.small_len_ = static_cast<std::uint8_t>(s.size());
    if (!s.empty()) std::memcpy(v.u_.small, s.data(), s.size());
  } else {
    v.rep_ = Rep::Borrowed;
    v.u_.view.data = s.data();
    v.u_.view.size = s.size();
  }
  return v;
}

Value Value::from_bytes(std::string bytes) {
  Value v = string_with_mark(std::move(bytes), false);
  v.kind_ = ValueKind::Bytes;
  return v;
}

Value Value::from_seq(std::vector<Value> items) {
  Value v;
  v.kind_ = ValueKind::Seq;
  v.rep_ = Rep::Heap;
  v.u_.heap = new detail::HeapSeq(std::move(items));
  return v;
}

Value Value::from_map(MapEntries entries) {
  auto* cell = new detail::HeapMap();
  Value v;
  v.kind_ = ValueKind::Map;
  v.rep_ = Rep::Heap;
  v.u_.heap = cell;
  cell->entries.reserve(entries.size());
  for (auto& [k, val] : entries) cell->insert(std::move(k), std::move(val));
  return v;
}

Value Value::from_json(const json::Value& j) noexcept {
  switch (j.kind()) {
    case json::Kind::Null:
      return none();
    case json::Kind::Bool:
      return from_bool(j.as_bool());
    case json::Kind::Int:
      return from_int(j.as_int());
    case json::Kind::UInt:
      return from_int(static_cast<Int128>(j.as_uint()));
    case json::Kind::Double:
      return from_float(j.as_double());
    case json::Kind::String:
      return borrowed_string(j.as_string());
    case json::Kind::Array: {
      Value v;
      v.kind_ = ValueKind::Seq;
      v.rep_ = Rep::JsonArray;
      v.u_.jarr = &j.as_array();
      return v;
    }
    case json::Kind::Object:
      return from_json_object(j.as_object());
  }
  return Value();
}

Value Value::from_json_object(const json::Object& o) noexcept {
  Value v;
  v.kind_ = ValueKind::Map;
  v.rep_ = Rep::JsonObject;
  v.u_.jobj = &o;
  return v;
}

Value Value::from_object(std::shared_ptr<Object> object) {
  if (!object) return Value();
  Value v;
  v.kind_ = ValueKind::Object;
  v.rep_ = Rep::Heap;
  v.u_.heap = new detail::HeapObject(std::move(object));
  return v;
}

// ---------------------------------------------------------------- access

Int128 Value::as_int() const noexcept {
  Int128 i;
  std::memcpy(&i, u_.i, sizeof i);
  return i;
}

std::string_view Value::heap_text() const noexcept {
  return static_cast<const detail::HeapString*>(u_.heap)->text;
}

std::optional<std::string_view> Value::as_bytes() const noexcept {
  if (kind_ != ValueKind::Bytes) return std::nullopt;
  return str();
}

Object* Value::as_object() const noexcept {
  if (kind_ != ValueKind::Object) return nullptr;
  return static_cast<const detail::HeapObject*>(u_.heap)->object.get();
}

std::shared_ptr<Object> Value::object_ptr() const {
  if (kind_ != ValueKind::Object) return nullptr;
  return static_cast<const detail::HeapObject*>(u_.heap)->object;
}

std::optional<Int128> Value::to_int() const noexcept {
  switch (kind_) {
    case ValueKind::Bool:
      return u_.b ? 1 : 0;
    case ValueKind::Int:
      return as_int();
    case ValueKind::Float:
      if (std::isfinite(u_.f) && std::trunc(u_.f) == u_.f && std::fabs(u_.f) < 1.7e38) {
        return static_cast<Int128>(u_.f);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::optional<double> Value::to_float() const noexcept {
  switch (kind_) {
    case ValueKind::Bool:
      return u_.b ? 1.0 : 0.0;
    case ValueKind::Int:
      return static_cast<double>(as_int());
    case ValueKind::Float:
      return u_.f;
    default:
      return std::nullopt;
  }
}

namespace {
const json::Value* json_find(const json::Object& o, std::string_view key) noexcept {
  return detail::find_json_member(o, key);
}
}  // namespace

namespace detail {
const json::Value* find_json_member(const json::Object& o, std::string_view key) noexcept {
  if (o.size() <= 8) {
    for (const auto& [k, v] : o) {
      if (k.size() == key.size() && std::memcmp(k.data(), key.data(), key.size()) == 0) return &v;
    }
    return nullptr;
  }
  auto it = o.find(key);
  return it == o.end() ? nullptr : &it->second;
}
}  // namespace detail

namespace {
std::size_t count_chars(std::string_view s) noexcept {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// Splits UTF-8 text into one value per character (a lone invalid byte counts as one).
std::vector<Value> split_chars(std::string_view s) {
  std::vector<Value> out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t j = i + 1;
    while (j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80 && j - i < 4) ++j;
    out.push_back(Value::borrowed_string(s.substr(i, j - i)));  // at most 4 bytes: stored inline
    i = j;
  }
  return out;
}
}  // namespace

std::optional<std::size_t> Value::len() const noexcept {
  switch (kind_) {
    case ValueKind::String:
      return count_chars(str());
    case ValueKind::Bytes:
      return str().size();
    case ValueKind::Seq:
      return seq_len();
    case ValueKind::Map:
      return map_len();
    default:
      return std::nullopt;
  }
}

std::size_t Value::seq_len() const noexcept {
  if (rep_ == Rep::JsonArray) return u_.jarr->size();
  if (kind_ == ValueKind::Seq) return static_cast<const detail::HeapSeq*>(u_.heap)->items.size();
  return 0;
}

Value Value::seq_at(std::size_t index) const noexcept {
  if (rep_ == Rep::JsonArray) return from_json((*u_.jarr)[index]);
  return static_cast<const detail::HeapSeq*>(u_.heap)->items[index];
}

std::size_t Value::map_len() const noexcept {
  if (rep_ == Rep::JsonObject) return u_.jobj->size();
  if (kind_ == ValueKind::Map) return static_cast<const detail::HeapMap*>(u_.heap)->entries.size();
  return 0;
}

MapEntries Value::map_entries() const {
  MapEntries out;
  if (rep_ == Rep::JsonObject) {
    out.reserve(u_.jobj->size());
    for (const auto& [k, v] : *u_.jobj) out.emplace_back(borrowed_string(k), from_json(v));
  } else if (kind_ == ValueKind::Map) {
    out = static_cast<const detail::HeapMap*>(u_.heap)->entries;
  }
  return out;
}

std::vector<Value> Value::map_keys() const {
  std::vector<Value> out;
  if (rep_ == Rep::JsonObject) {
    out.reserve(u_.jobj->size());
    for (const auto& [k, v] : *u_.jobj) out.push_back(borrowed_string(k));
  } else if (kind_ == ValueKind::Map) {
    const auto& entries = static_cast<const detail::HeapMap*>(u_.heap)->entries;
    out.reserve(entries.size());
    for (const auto& [k, v] : entries) out.push_back(k);
  }
  return out;
}

Result<std::vector<Value>> Value::iterate() const {
  switch (kind_) {
    case ValueKind::Undefined:
      return std::vector<Value>{};
    case ValueKind::String:
      return split_chars(str());
    case ValueKind::Bytes: {
      std::vector<Value> out;
      for (unsigned char c : str()) out.push_back(from_int(c));
      return out;
    }
    case ValueKind::Seq: {
      if (rep_ == Rep::JsonArray) {
        std::vector<Value> out;
        out.reserve(u_.jarr->size());
        for (const auto& j : *u_.jarr) out.push_back(from_json(j));
        return out;
      }
      return static_cast<const detail::HeapSeq*>(u_.heap)->items;
    }
    case ValueKind::Map:
      return map_keys();
    case ValueKind::Object:
      if (auto items = as_object()->iterate()) return std::move(*items);
      break;
    default:
      break;
  }
  std::string detail(kind_ == ValueKind::Object ? as_object()->type_name() : kind_name(kind_));
  detail += " is not iterable";
  return fail(ErrorKind::InvalidOperation, std::move(detail));
}

Value Value::get_item(const Value& key) const {
  switch (kind_) {
    case ValueKind::Map: {
      if (rep_ == Rep::JsonObject) {
        auto k = key.as_str();
        if (!k) return Value();
        const json::Value* found = json_find(*u_.jobj, *k);
        return found ? from_json(*found) : Value();
      }
      const auto* m = static_cast<const detail::HeapMap*>(u_.heap);
      auto at = m->find(key);
      return at < 0 ? Value() : m->entries[static_cast<std::size_t>(at)].second;
    }
    case ValueKind::Seq: {
      if (key.kind_ != ValueKind::Int && key.kind_ != ValueKind::Bool) return Value();
      Int128 i = *key.to_int();
      const auto n = static_cast<Int128>(seq_len());
      if (i < 0) i += n;
      if (i < 0 || i >= n) return Value();
      return seq_at(static_cast<std::size_t>(i));
    }
    case ValueKind::String: {
      if (key.kind_ != ValueKind::Int && key.kind_ != ValueKind::Bool) return Value();
      auto chars = split_chars(str());
      Int128 i = *key.to_int();
      const auto n = static_cast<Int128>(chars.size());
      if (i < 0) i += n;
      if (i < 0 || i >= n) return Value();
      return from_string(chars[static_cast<std::size_t>(i)].str());
    }
    case ValueKind::Object:
      return as_object()->get_item(key);
    default:
      return Value();
  }
}

Value Value::get_attr(std::string_view name) const {
  if (kind_ == ValueKind::Map) {
    if (rep_ == Rep::JsonObject) {
      const json::Value* found = json_find(*u_.jobj, name);
      return found ? from_json(*found) : Value();
    }
    const auto* m = static_cast<const detail::HeapMap*>(u_.heap);
    auto at = m->find_str(name);
    return at < 0 ? Value() : m->entries[static_cast<std::size_t>(at)].second;
  }
  if (kind_ == ValueKind::Object) return as_object()->get_attr(name);
  return Value();
}

bool Value::is_true() const noexcept {
  switch (kind_) {
    case ValueKind::Undefined:
    case ValueKind::None:
      return false;
    case ValueKind::Bool:
      return u_.b;
    case ValueKind::Int:
      return as_int() != 0;
    case ValueKind::Float:
      return u_.f != 0.0;
    case ValueKind::String:
    case ValueKind::Bytes:
      return !str().empty();
    case ValueKind::Seq:
      return seq_len() != 0;
    case ValueKind::Map:
      return map_len() != 0;
    case ValueKind::Object:
      return as_object()->is_true();
  }
  return false;
}

// ---------------------------------------------------------------- equality and hashing

namespace {
bool numeric_kind(ValueKind k) {
  return k == ValueKind::Bool || k == ValueKind::Int || k == ValueKind::Float;
}

bool equal_at(const Value& a, const Value& b, int depth) noexcept;

bool maps_equal(const Value& a, const Value& b, int depth) noexcept {
  if (a.map_len() != b.map_len()) return false;
  for (const auto& [k, v] : a.map_entries()) {
    Value other = b.get_item(k);
    if (other.is_undefined() && !v.is_undefined()) return false;
    if (!equal_at(v, other, depth + 1)) return false;
  }
  return true;
}

bool equal_at(const Value& a, const Value& b, int depth) noexcept {
  if (depth > detail::kMaxValueDepth) return false;
  const ValueKind ka = a.kind(), kb = b.kind();
  if (numeric_kind(ka) && numeric_kind(kb)) {
    if (ka == ValueKind::Float || kb == ValueKind::Float) {
      if (ka == ValueKind::Float && kb == ValueKind::Float) return a.as_float() == b.as_float();
      const Value& f = ka == ValueKind::Float ? a : b;
      const Value& i = ka == ValueKind::Float ? b : a;
      auto exact = f.to_int();
      if (exact) return *exact == *i.to_int();
      return false;
    }
    return *a.to_int() == *b.to_int();
  }
  if (ka != kb) return false;
  // The same container is equal to itself (as Python's containers compare by identity first),
  // which also keeps a value built of shared parts from being walked part by part.
  if (const auto* ca = ValueAccess::cell(a); ca && ca == ValueAccess::cell(b)) return true;
  if (const auto* ja = ValueAccess::json_array(a); ja && ja == ValueAccess::json_array(b)) {
    return true;
  }
  if (const auto* jo = ValueAccess::json_object(a); jo && jo == ValueAccess::json_object(b)) {
    return true;
  }
  switch (ka) {
    case ValueKind::Undefined:
    case ValueKind::None:
      return true;
    case ValueKind::String:
    case ValueKind::Bytes:
      return a.str() == b.str();
    case ValueKind::Seq: {
      const std::size_t n = a.seq_len();
      if (n != b.seq_len()) return false;
      for (std::size_t i = 0; i < n; ++i) {
        if (!equal_at(a.seq_at(i), b.seq_at(i), depth + 1)) return false;
      }
      return true;
    }
    case ValueKind::Map:
      return maps_equal(a, b, depth);
    case ValueKind::Object:
      return a.as_object() == b.as_object();
    default:
      return false;
  }
}

std::size_t mix(std::size_t h, std::size_t v) noexcept {
  return h ^ (v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

std::size_t hash_at(const Value& v, int depth) noexcept {
  if (depth > detail::kMaxValueDepth) return 0;
  switch (v.kind()) {
    case ValueKind::Bool:
    case ValueKind::Int:
    case ValueKind::Float: {
      if (auto i = v.to_int()) {
        const auto u = static_cast<UInt128>(*i);
        return mix(static_cast<std::size_t>(u), static_cast<std::size_t>(u >> 64));
      }
      return std::hash<double>{}(v.as_float());
    }
    case ValueKind::String:
    case ValueKind::Bytes:
      return std::hash<std::string_view>{}(v.str());
    case ValueKind::Seq: {
      // Length and a few leading items: enough to spread keys, bounded however large the value.
      std::size_t h = mix(0x51, v.seq_len());
      if (depth < 4) {
        for (std::size_t i = 0; i < v.seq_len() && i < 8; ++i) {
          h = mix(h, hash_at(v.seq_at(i), depth + 1));
        }
      }
      return h;
    }
    case ValueKind::Map:
      return mix(0x3A, v.map_len());
    case ValueKind::Object:
      return std::hash<const void*>{}(v.as_object());
    default:
      return static_cast<std::size_t>(v.kind());
  }
}
}  // namespace

bool operator==(const Value& a, const Value& b) noexcept { return equal_at(a, b, 0); }

std::size_t Value::hash() const noexcept { return hash_at(*this, 0); }

// ---------------------------------------------------------------- numbers as text

void write_int(Int128 i, std::string& out) {
  if (i >= INT64_MIN && i <= INT64_MAX) {
    // The common case without 128-bit division.
    char small[24];
    auto r = std::to_chars(small, small + sizeof small, static_cast<std::int64_t>(i));
    out.append(small, static_cast<std::size_t>(r.ptr - small));
    return;
  }
  char buf[48];
  char* end = buf + sizeof buf;
  char* p = end;
  const bool negative = i < 0;
  UInt128 u = negative ? UInt128(0) - static_cast<UInt128>(i) : static_cast<UInt128>(i);
  do {
    *--p = static_cast<char>('0' + static_cast<int>(u % 10));
    u /= 10;
  } while (u != 0);
  if (negative) *--p = '-';
  out.append(p, end);
}

std::string int_to_string(Int128 i) {
  std::string s;
  write_int(i, s);
  return s;
}

void write_float_display(double d, std::string& out) {
  if (std::isnan(d)) {
    out += "NaN";
    return;
  }
  if (std::isinf(d)) {
    out += d < 0 ? "-inf" : "inf";
    return;
  }
  // The shortest digits that read back as `d` (scientific form), laid out in plain notation: the
  // fixed form of to_chars would print the exact binary expansion of large numbers instead.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e = sci.find('e');
  std::string_view mantissa = sci.substr(0, e);
  int exponent = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
  if (!mantissa.empty() && mantissa[0] == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') digits += c;
  }
  // value = 0.digits * 10^(exponent + 1)
  const long point = static_cast<long>(exponent) + 1;
  const long n = static_cast<long>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(point - n), '0');
    out += ".0";
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  }
}

void write_float_json(double d, std::string& out) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e = sci.find('e');
  int exponent = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
  if (exponent >= -5 && exponent <= 15) {
    write_float_display(d, out);
    return;
  }
  out.append(sci.substr(0, e));
  out += 'e';
  out += exponent < 0 ? '-' : '+';
  out += std::to_string(exponent < 0 ? -exponent : exponent);
}

// One JSON string escaping for the whole library: the JSON writer's.
void write_json_string(std::string_view s, std::string& out) { json::write_string(s, out); }

// ---------------------------------------------------------------- display form

namespace {
// Where a display form is written and how far it may grow.
struct DisplaySink {
  std::string& out;
  std::size_t limit;
  bool overflow = false;
  bool full() {
    if (out.size() > limit) overflow = true;
    return overflow;
  }
};

void write_display_at(const Value& v, DisplaySink& sink, int depth, bool nested);

void write_nested(const Value& v, DisplaySink& sink, int depth) {
  write_display_at(v, sink, depth + 1, true);
}

void write_display_at(const Value& v, DisplaySink& sink, int depth, bool nested) {
  if (sink.full()) return;
  std::string& out = sink.out;
  switch (v.kind()) {
    case ValueKind::Undefined:
      if (nested) out += "undefined";
      return;
    case ValueKind::None:
      out += "none";
      return;
    case ValueKind::Bool:
      out += v.as_bool() ? "true" : "false";
      return;
    case ValueKind::Int:
      write_int(v.as_int(), out);
      return;
    case ValueKind::Float:
      write_float_display(v.as_float(), out);
      return;
    case ValueKind::String:
      if (nested) {
        write_json_string(v.str(), out);
      } else {
        out += v.str();
      }
      return;
    case ValueKind::Bytes:
      if (nested) {
        write_json_string(text::lossy_utf8(v.str()), out);
      } else {
        out += text::lossy_utf8(v.str());
      }
      return;
    case ValueKind::Seq: {
      if (depth >= detail::kMaxValueDepth) {
        out += "[...]";
        return;
      }
      out += '[';
      const std::size_t n = v.seq_len();
      for (std::size_t i = 0; i < n && !sink.full(); ++i) {
        if (i) out += ", ";
        write_nested(v.seq_at(i), sink, depth);
      }
      out += ']';
      return;
    }
    case ValueKind::Map: {
      if (depth >= detail::kMaxValueDepth) {
        out += "{...}";
        return;
      }
      out += '{';
      bool first = true;
      for (const auto& [k, val] : v.map_entries()) {
        if (sink.full()) break;
        if (!first) out += ", ";
        first = false;
        write_nested(k, sink, depth);
        out += ": ";
        write_nested(val, sink, depth);
      }
      out += '}';
      return;
    }
    case ValueKind::Object:
      v.as_object()->write_display(out);
      return;
  }
}

// ---------------------------------------------------------------- JSON text

Result<void> write_json_at(const Value& v, std::string& out, int depth, std::size_t limit);

Result<void> write_json_key(const Value& k, std::string& out) {
  switch (k.kind()) {
    case ValueKind::String:
      write_json_string(k.str(), out);
      return {};
    case ValueKind::Int:
      out += '"';
      write_int(k.as_int(), out);
      out += '"';
      return {};
    case ValueKind::Bool:
      out += k.as_bool() ? "\"true\"" : "\"false\"";
      return {};
    case ValueKind::Float:
      if (std::isfinite(k.as_float())) {
        out += '"';
        write_float_json(k.as_float(), out);
        out += '"';
        return {};
      }
      return fail(ErrorKind::BadSerialization, "map key is not a finite number");
    default:
      return fail(ErrorKind::BadSerialization,
                  std::string(kind_name(k.kind())) + " cannot be a JSON object key");
  }
}

Result<void> write_json_at(const Value& v, std::string& out, int depth, std::size_t limit) {
  if (depth > detail::kMaxValueDepth) {
    return fail(ErrorKind::BadSerialization, "value nested too deeply");
  }
  if (out.size() > limit) return fail(ErrorKind::BadSerialization, "value too large");
  switch (v.kind()) {
    case ValueKind::Undefined:
    case ValueKind::None:
      out += "null";
      return {};
    case ValueKind::Bool:
      out += v.as_bool() ? "true" : "false";
      return {};
    case ValueKind::Int:
      write_int(v.as_int(), out);
      return {};
    case ValueKind::Float:
      if (std::isfinite(v.as_float())) {
        write_float_json(v.as_float(), out);
      } else {
        out += "null";
      }
      return {};
    case ValueKind::String:
      write_json_string(v.str(), out);
      return {};
    case ValueKind::Bytes: {
      out += '[';
      bool first = true;
      for (unsigned char c : v.str()) {
        if (!first) out += ',';
        first = false;
        out += std::to_string(c);
      }
      out += ']';
      return {};
    }
    case ValueKind::Seq: {
      out += '[';
      const std::size_t n = v.seq_len();
      for (std::size_t i = 0; i < n; ++i) {
        if (i) out += ',';
        if (auto r = write_json_at(v.seq_at(i), out, depth + 1, limit); !r) return r;
      }
      out += ']';
      return {};
    }
    case ValueKind::Map: {
      out += '{';
      bool first = true;
      for (const auto& [k, val] : v.map_entries()) {
        if (!first) out += ',';
        first = false;
        if (auto r = write_json_key(k, out); !r) return r;
        out += ':';
        if (auto r = write_json_at(val, out, depth + 1, limit); !r) return r;
      }
      out += '}';
      return {};
    }
    case ValueKind::Object:
      return fail(ErrorKind::BadSerialization,
                  std::string(v.as_object()->type_name()) + " cannot be written as JSON");
  }
  return {};
}
}  // namespace

void Value::write_display(std::string& out) const {
  DisplaySink sink{out, out.size() + kMaxDisplayBytes};
  write_display_at(*this, sink, 0, false);
  if (sink.overflow) {
    out.resize(std::min(out.size(), sink.limit));
    out += "...";
  }
}

Result<void> Value::write_display_checked(std::string& out, std::size_t max_bytes) const {
  const std::size_t mark = out.size();
  DisplaySink sink{out, mark + max_bytes};
  write_display_at(*this, sink, 0, false);
  if (sink.overflow || out.size() > sink.limit) {
    out.resize(mark);
    return fail(ErrorKind::InvalidOperation, "value too large to display");
  }
  return {};
}

Result<std::string> Value::to_display_checked(std::size_t max_bytes) const {
  std::string out;
  if (auto r = write_display_checked(out, max_bytes); !r) return std::unexpected(r.error());
  return out;
}

std::string Value::to_display() const {
  if (kind_ == ValueKind::String) return std::string(str());
  std::string out;
  write_display(out);
  return out;
}

Result<void> Value::write_json(std::string& out) const {
  const std::size_t mark = out.size();
  auto r = write_json_at(*this, out, 0, mark + kMaxDisplayBytes);
  if (r && out.size() > mark + kMaxDisplayBytes)
    r = fail(ErrorKind::BadSerialization, "value too large");
  if (!r) out.resize(mark);  // nothing partial on failure
  return r;
}

}  // namespace korvel::engine
