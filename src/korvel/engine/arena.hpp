// Internal to the engine: detail::Arena, the bump allocator that holds a compiled template's nodes
// and decoded strings. Nodes are trivially destructible, so the arena frees them all at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace korvel::engine::detail {

class Arena {
 public:
  explicit Arena(std::size_t first_block = 4096) : next_size_(first_block) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `align` is a power of two.
  void* allocate(std::size_t size, std::size_t align) {
    std::size_t pad = (0 - reinterpret_cast<std::uintptr_t>(cur_)) & (align - 1);
    if (cur_ == nullptr || pad + size > left_) {
      grow(size + align);
      pad = (0 - reinterpret_cast<std::uintptr_t>(cur_)) & (align - 1);
    }
    std::byte* p = cur_ + pad;
    cur_ = p + size;
    left_ -= pad + size;
    return p;
  }

  template <class T, class... A>
  T* make(A&&... args) {
    static_assert(std::is_trivially_destructible_v<T>);
    return new (allocate(sizeof(T), alignof(T))) T{std::forward<A>(args)...};
  }

  template <class T>
  std::span<T> copy(const std::vector<T>& items) {
    static_assert(std::is_trivially_destructible_v<T> && std::is_trivially_copyable_v<T>);
    if (items.empty()) return {};
    T* p = static_cast<T*>(allocate(sizeof(T) * items.size(), alignof(T)));
    std::memcpy(static_cast<void*>(p), items.data(), sizeof(T) * items.size());
    return {p, items.size()};
  }

  std::string_view copy_str(std::string_view s) {
    if (s.empty()) return {};
    char* p = static_cast<char*>(allocate(s.size(), 1));
    std::memcpy(p, s.data(), s.size());
    return {p, s.size()};
  }

 private:
  void grow(std::size_t at_least) {
    std::size_t size = next_size_ > at_least ? next_size_ : at_least;
    blocks_.push_back(std::unique_ptr<std::byte[]>(new std::byte[size]));
    cur_ = blocks_.back().get();
    left_ = size;
    if (next_size_ < (std::size_t{1} << 20)) next_size_ *= 2;
  }

  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::byte* cur_ = nullptr;
  std::size_t left_ = 0;
  std::size_t next_size_;
};

}  // namespace korvel::engine::detail
