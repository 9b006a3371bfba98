// The children of a source-tree node: one pointer in the node (null when
// there are none) to a block holding the count, the room and the entries.
//
// Entries are relocated by their bytes (nodes and their texts hold no
// pointers into themselves), so growing is one realloc and a finished
// collection gives its spare room back with shrink_to_fit().
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <utility>

namespace qf {

template <class T>
class NodeList {
 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;
  using size_type = size_t;
  using reference = T&;
  using const_reference = const T&;

  NodeList() noexcept = default;
  NodeList(NodeList&& o) noexcept : block_(o.block_) { o.block_ = nullptr; }
  NodeList& operator=(NodeList&& o) noexcept {
    if (this != &o) {
      destroy();
      block_ = o.block_;
      o.block_ = nullptr;
    }
    return *this;
  }
  NodeList(const NodeList& o) { append_copies(o.begin(), o.end()); }
  NodeList& operator=(const NodeList& o) {
    if (this != &o) {
      NodeList copy(o);
      *this = std::move(copy);
    }
    return *this;
  }
  NodeList(std::initializer_list<T> init) { append_copies(init.begin(), init.end()); }
  ~NodeList() { destroy(); }

  size_t size() const noexcept { return block_ ? block_->size : 0; }
  bool empty() const noexcept { return size() == 0; }
  size_t capacity() const noexcept { return block_ ? block_->capacity : 0; }
  T* data() noexcept { return block_ ? block_->items() : nullptr; }
  const T* data() const noexcept { return block_ ? block_->items() : nullptr; }
  T* begin() noexcept { return data(); }
  T* end() noexcept { return data() + size(); }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size(); }
  T& operator[](size_t i) noexcept { return data()[i]; }
  const T& operator[](size_t i) const noexcept { return data()[i]; }
  T& at(size_t i) {
    if (i >= size()) throw std::out_of_range("NodeList::at");
    return data()[i];
  }
  const T& at(size_t i) const {
    if (i >= size()) throw std::out_of_range("NodeList::at");
    return data()[i];
  }
  T& front() noexcept { return data()[0]; }
  const T& front() const noexcept { return data()[0]; }
  T& back() noexcept { return data()[size() - 1]; }
  const T& back() const noexcept { return data()[size() - 1]; }

  void reserve(size_t n) {
    if (n > capacity()) regrow(n);
  }
  // Gives spare room back: the entries move to a block of their exact size
  // and the old block is freed whole, where the next list to grow takes it
  // at once (shrinking in place would split it, the slower road in malloc).
  void shrink_to_fit() {
    if (!block_ || block_->size == block_->capacity) return;
    if (block_->size == 0) {
      std::free(block_);
      block_ = nullptr;
      return;
    }
    const size_t bytes = sizeof(Block) + block_->size * sizeof(T);
    // (A large block shrinks in place: no second copy of it at once.)
    void* p = bytes <= kFreshShrinkLimit ? std::malloc(bytes) : nullptr;
    if (!p) {
      regrow(block_->size);
      return;
    }
    std::memcpy(p, static_cast<const void*>(block_), bytes);
    std::free(block_);
    block_ = static_cast<Block*>(p);
    block_->capacity = block_->size;
  }

  // Moves every entry of `from` into this list, which is cleared first, and
  // leaves `from` empty: a short list is copied by bytes into a block of its
  // exact size (`from` keeps its room for the next use), a long one takes
  // over `from`'s block trimmed to size (no second copy of a large block).
  void take_entries(NodeList& from) {
    destroy();
    const size_t n = from.size();
    if (n == 0) return;
    if (n > kCopyLimit) {
      from.shrink_to_fit();
      std::swap(block_, from.block_);
      return;
    }
    regrow(n);
    std::memcpy(static_cast<void*>(block_->items()), static_cast<const void*>(from.block_->items()), n * sizeof(T));
    block_->size = uint32_t(n);
    from.block_->size = 0;
  }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size() == capacity()) {
      // The arguments may live in this block: build the entry before it moves.
      T entry{std::forward<Args>(args)...};
      make_room(1);
      return place_back(std::move(entry));
    }
    return place_back(std::forward<Args>(args)...);
  }
  void push_back(T&& v) { emplace_back(std::move(v)); }
  void push_back(const T& v) { emplace_back(v); }
  void pop_back() noexcept {
    back().~T();
    --block_->size;
  }

  // By value: `v` may live in this block.
  T* insert(const T* pos, T v) {
    size_t at = size_t(pos - begin());
    make_room(1);
    T* p = data() + at;
    std::memmove(static_cast<void*>(p + 1), static_cast<const void*>(p), (block_->size - at) * sizeof(T));
    new (p) T(std::move(v));
    ++block_->size;
    return p;
  }
  T* erase(const T* pos) { return erase(pos, pos + 1); }
  T* erase(const T* first, const T* last) {
    size_t at = size_t(first - begin());
    size_t n = size_t(last - first);
    if (n == 0) return data() + at;
    T* p = data() + at;
    for (size_t i = 0; i < n; ++i) p[i].~T();
    std::memmove(static_cast<void*>(p), static_cast<const void*>(p + n), (block_->size - at - n) * sizeof(T));
    block_->size -= uint32_t(n);
    return data() + at;
  }
  void resize(size_t n) {
    while (size() > n) pop_back();
    reserve(n);
    while (size() < n) emplace_back();
  }
  void clear() noexcept { destroy(); }
  void swap(NodeList& o) noexcept { std::swap(block_, o.block_); }

 private:
  static constexpr size_t kCopyLimit = 256;
  static constexpr size_t kFreshShrinkLimit = 64 * 1024;

  struct Block {
    uint32_t size;
    uint32_t capacity;
    T* items() noexcept { return reinterpret_cast<T*>(this + 1); }
  };

  Block* block_ = nullptr;

  template <class... Args>
  T& place_back(Args&&... args) {
    T* slot = new (data() + block_->size) T{std::forward<Args>(args)...};
    ++block_->size;
    return *slot;
  }
  void make_room(size_t extra) {
    size_t need = size() + extra;
    if (need > capacity()) regrow(need < 4 ? 4 : need + need / 2);
  }
  void regrow(size_t cap) {
    static_assert(alignof(T) <= 8, "entries start 8 bytes into a block");
    if (cap > 0xFFFFFFFFu) throw std::bad_alloc();
    void* p = std::realloc(static_cast<void*>(block_), sizeof(Block) + cap * sizeof(T));
    if (!p) throw std::bad_alloc();
    bool fresh = block_ == nullptr;
    block_ = static_cast<Block*>(p);
    if (fresh) block_->size = 0;
    block_->capacity = uint32_t(cap);
  }
  void destroy() noexcept {
    if (!block_) return;
    T* p = block_->items();
    for (uint32_t i = 0; i < block_->size; ++i) p[i].~T();
    std::free(block_);
    block_ = nullptr;
  }
  template <class It>
  void append_copies(It first, It last) {
    reserve(size_t(last - first));
    for (; first != last; ++first) emplace_back(*first);
  }
};

}  // namespace qf
