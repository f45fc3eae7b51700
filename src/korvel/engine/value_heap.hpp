// Internal to the engine: the heap cells behind string, sequence, map and object values, and the
// accessors the engine's own files use to reach them. Not part of the public interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "korvel/engine/object.hpp"
#include "korvel/engine/value.hpp"

namespace korvel::engine::detail {

struct HeapString final : HeapCell {
  explicit HeapString(std::string s) : text(std::move(s)) {}
  std::string text;
};

struct HeapSeq final : HeapCell {
  explicit HeapSeq(std::vector<Value> v) : HeapCell(Tag::Seq), items(std::move(v)) {}
  ~HeapSeq() override;
  std::vector<Value> items;
};

struct HeapMap final : HeapCell {
  HeapMap() : HeapCell(Tag::Map) {}
  ~HeapMap() override;
  MapEntries entries;
  // Open-addressing index into `entries` (kEmpty marks a free slot); built only for larger maps.
  std::vector<std::uint32_t> index;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static constexpr std::size_t kIndexFrom = 9;

  // Position of `key` in entries, or -1.
  std::ptrdiff_t find(const Value& key) const noexcept;
  std::ptrdiff_t find_str(std::string_view key) const noexcept;
  // Adds or replaces (keeping the first position).
  void insert(Value key, Value value);

 private:
  void rebuild_index();
  void index_add(std::uint32_t position);
};

struct HeapObject final : HeapCell {
  explicit HeapObject(std::shared_ptr<Object> o) : object(std::move(o)) {}
  std::shared_ptr<Object> object;
};

// Entry of a JSON object by key, or nullptr. Small objects are scanned (sizes compared first),
// which is cheaper than the tree's string comparisons.
const json::Value* find_json_member(const json::Object& o, std::string_view key) noexcept;

// Deepest nesting of sequences and maps that display, JSON text, equality and ordering walk;
// deeper values are cut short instead of exhausting the stack.
inline constexpr int kMaxValueDepth = 200;

}  // namespace korvel::engine::detail

namespace korvel::engine {

// The engine's own reach into a value's representation (fast paths for loops and lookups).
struct ValueAccess {
  static const detail::HeapSeq* heap_seq(const Value& v) noexcept {
    return v.kind_ == ValueKind::Seq && v.rep_ == Value::Rep::Heap
               ? static_cast<const detail::HeapSeq*>(v.u_.heap)
               : nullptr;
  }
  static const json::Array* json_array(const Value& v) noexcept {
    return v.rep_ == Value::Rep::JsonArray ? v.u_.jarr : nullptr;
  }
  static const detail::HeapMap* heap_map(const Value& v) noexcept {
    return v.kind_ == ValueKind::Map && v.rep_ == Value::Rep::Heap
               ? static_cast<const detail::HeapMap*>(v.u_.heap)
               : nullptr;
  }
  static const json::Object* json_object(const Value& v) noexcept {
    return v.rep_ == Value::Rep::JsonObject ? v.u_.jobj : nullptr;
  }
  static bool is_heap(const Value& v) noexcept { return v.rep_ == Value::Rep::Heap; }
  static std::uint32_t refs(const Value& v) noexcept {
    return v.rep_ == Value::Rep::Heap ? v.u_.heap->refs.load(std::memory_order_acquire) : 0;
  }
  static detail::HeapCell* cell(const Value& v) noexcept {
    return v.rep_ == Value::Rep::Heap ? v.u_.heap : nullptr;
  }
};

}  // namespace korvel::engine
