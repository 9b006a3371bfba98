// The text of a source-tree node in 16 bytes: a view into the kept source
// text when the node was read from it and its value is the source bytes as
// they stand, or the node's own copy (inline up to kInline bytes, else one
// heap block) when it was unescaped, folded or made by an edit.
//
// A view is only as good as the bytes under it: the tree's root (and the
// document holding the tree) keeps the source text alive.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qf {

class NodeText {
 public:
  static constexpr uint32_t kInline = 12;

  NodeText() noexcept { clear_bits(); }
  // Owned copy of `s`.
  NodeText(std::string_view s) { set_owned(s); }  // NOLINT: implicit like std::string
  NodeText(const std::string& s) { set_owned(s); }  // NOLINT
  NodeText(const char* s) { set_owned(std::string_view(s)); }  // NOLINT
  // A view of bytes someone else keeps alive.
  static NodeText view(std::string_view s) noexcept {
    NodeText t;
    t.set_ptr(s.data());
    t.meta_ = uint32_t(s.size()) | kView;
    return t;
  }

  NodeText(const NodeText& o) { copy_from(o); }
  NodeText(NodeText&& o) noexcept {
    std::memcpy(static_cast<void*>(this), &o, sizeof(NodeText));
    o.clear_bits();
  }
  NodeText& operator=(const NodeText& o) {
    if (this != &o) {
      release();
      copy_from(o);
    }
    return *this;
  }
  NodeText& operator=(NodeText&& o) noexcept {
    if (this != &o) {
      release();
      std::memcpy(static_cast<void*>(this), &o, sizeof(NodeText));
      o.clear_bits();
    }
    return *this;
  }
  NodeText& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  NodeText& operator=(const std::string& s) {
    assign(s);
    return *this;
  }
  NodeText& operator=(const char* s) {
    assign(std::string_view(s));
    return *this;
  }
  ~NodeText() { release(); }

  // Owned copy of `s` (which may point into this text).
  void assign(std::string_view s) {
    NodeText fresh(s);
    *this = std::move(fresh);
  }
  void clear() noexcept {
    release();
    clear_bits();
  }

  const char* data() const noexcept {
    if (mode() == kInlineMode) return bytes_;
    const char* p = ptr();
    return p ? p : "";
  }
  size_t size() const noexcept { return meta_ & kSizeMask; }
  size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  bool is_view() const noexcept { return mode() == kView; }
  std::string_view sv() const noexcept { return {data(), size()}; }
  std::string str() const { return std::string(sv()); }
  operator std::string_view() const noexcept { return sv(); }  // NOLINT
  explicit operator std::string() const { return str(); }
  char operator[](size_t i) const noexcept { return data()[i]; }
  char front() const noexcept { return data()[0]; }
  char back() const noexcept { return data()[size() - 1]; }
  const char* begin() const noexcept { return data(); }
  const char* end() const noexcept { return data() + size(); }
  size_t find(char c, size_t pos = 0) const noexcept { return sv().find(c, pos); }
  size_t find(std::string_view s, size_t pos = 0) const noexcept { return sv().find(s, pos); }
  size_t find_first_of(std::string_view s, size_t pos = 0) const noexcept { return sv().find_first_of(s, pos); }
  size_t find_first_not_of(std::string_view s, size_t pos = 0) const noexcept {
    return sv().find_first_not_of(s, pos);
  }
  size_t find_last_of(std::string_view s, size_t pos = std::string_view::npos) const noexcept {
    return sv().find_last_of(s, pos);
  }
  size_t find_last_not_of(std::string_view s, size_t pos = std::string_view::npos) const noexcept {
    return sv().find_last_not_of(s, pos);
  }
  size_t rfind(char c, size_t pos = std::string_view::npos) const noexcept { return sv().rfind(c, pos); }
  std::string_view substr(size_t pos, size_t n = std::string_view::npos) const { return sv().substr(pos, n); }
  int compare(std::string_view s) const noexcept { return sv().compare(s); }
  bool starts_with(std::string_view s) const noexcept { return sv().starts_with(s); }
  bool starts_with(char c) const noexcept { return sv().starts_with(c); }
  bool ends_with(std::string_view s) const noexcept { return sv().ends_with(s); }
  bool ends_with(char c) const noexcept { return sv().ends_with(c); }

  friend bool operator==(const NodeText& a, const NodeText& b) noexcept { return a.sv() == b.sv(); }
  friend bool operator==(const NodeText& a, std::string_view b) noexcept { return a.sv() == b; }
  friend bool operator==(const NodeText& a, const std::string& b) noexcept { return a.sv() == b; }
  friend bool operator==(const NodeText& a, const char* b) noexcept { return a.sv() == b; }
  friend auto operator<=>(const NodeText& a, const NodeText& b) noexcept { return a.sv() <=> b.sv(); }
  friend std::string operator+(const std::string& a, const NodeText& b) { return a + std::string(b.sv()); }
  friend std::string operator+(const NodeText& a, const std::string& b) { return std::string(a.sv()) + b; }
  friend std::string operator+(const char* a, const NodeText& b) { return a + std::string(b.sv()); }
  friend std::string operator+(const NodeText& a, const char* b) { return std::string(a.sv()) + b; }
  friend std::string operator+(char a, const NodeText& b) { return a + std::string(b.sv()); }
  friend std::string operator+(const NodeText& a, char b) { return std::string(a.sv()) + b; }
  friend std::string& operator+=(std::string& a, const NodeText& b) { return a.append(b.data(), b.size()); }
  friend std::ostream& operator<<(std::ostream& os, const NodeText& t) {
    return os.write(t.data(), std::streamsize(t.size()));
  }

 private:
  // Top two bits of meta_: the storage mode; the rest: the size (texts are
  // under 2 GiB, the scanner refuses larger ones).
  static constexpr uint32_t kSizeMask = 0x3FFFFFFFu;
  static constexpr uint32_t kView = 0x40000000u;
  static constexpr uint32_t kHeap = 0x80000000u;
  static constexpr uint32_t kInlineMode = 0xC0000000u;

  // Inline bytes, or the address of the view or heap block (kept by bytes so
  // the record stays 16 bytes at 4-byte alignment).
  char bytes_[kInline];
  uint32_t meta_;

  const char* ptr() const noexcept {
    const char* p;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  void set_ptr(const char* p) noexcept { std::memcpy(bytes_, &p, sizeof p); }

  uint32_t mode() const noexcept { return meta_ & ~kSizeMask; }
  void clear_bits() noexcept {
    set_ptr(nullptr);
    meta_ = 0;  // an empty owned text with no block
  }
  void release() noexcept {
    if (mode() == kHeap) std::free(const_cast<char*>(ptr()));
  }
  void set_owned(std::string_view s) {
    if (s.size() > kSizeMask) throw std::length_error("node text too long");
    if (s.empty()) {
      clear_bits();
    } else if (s.size() <= kInline) {
      std::memcpy(bytes_, s.data(), s.size());
      meta_ = uint32_t(s.size()) | kInlineMode;
    } else {
      char* p = static_cast<char*>(std::malloc(s.size()));
      if (!p) throw std::bad_alloc();
      std::memcpy(p, s.data(), s.size());
      set_ptr(p);
      meta_ = uint32_t(s.size()) | kHeap;
    }
  }
  void copy_from(const NodeText& o) {
    if (o.mode() == kHeap) {
      set_owned(o.sv());
    } else {
      std::memcpy(static_cast<void*>(this), &o, sizeof(NodeText));
    }
  }
};

static_assert(sizeof(NodeText) == 16);

}  // namespace qf
