#include "schema/pattern.hpp"

#include <re2/re2.h>

#include <mutex>
#include <unordered_map>

namespace qf {

namespace {

// Unicode White_Space and the Unicode word characters, as RE2 class members.
constexpr std::string_view kSpaceMembers =
    "\\x09-\\x0D\\x20\\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}\\x{205F}\\x{3000}";
constexpr std::string_view kWordMembers = "\\p{L}\\p{M}\\p{Nd}\\p{Nl}\\p{Pc}\\x{200C}\\x{200D}";

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

class Translator {
 public:
  explicit Translator(std::string_view p) : p_(p) {}

  std::optional<std::string> run() {
    out_.reserve(p_.size() + 16);
    while (i_ < p_.size()) {
      char c = p_[i_];
      if (c == '\\') {
        if (!outside_escape()) return std::nullopt;
      } else if (c == '[') {
        if (!bracket()) return std::nullopt;
      } else if (c == '(') {
        if (++depth_ > kMaxPatternNesting) return std::nullopt;
        if (p_.substr(i_, 3) == "(?<" && i_ + 3 < p_.size() && p_[i_ + 3] != '=' && p_[i_ + 3] != '!') {
          out_ += "(?P<";
          i_ += 3;
        } else {
          out_ += c;
          ++i_;
        }
      } else {
        if (c == ')' && depth_ > 0) --depth_;
        out_ += c;
        ++i_;
      }
    }
    return std::move(out_);
  }

 private:
  // \u and \U forms to \x{...}; i_ is on the letter. False when malformed.
  bool unicode_escape(std::string& out) {
    const bool big = p_[i_] == 'U';
    ++i_;
    std::string_view hex;
    if (i_ < p_.size() && p_[i_] == '{') {
      size_t close = p_.find('}', i_);
      if (close == std::string_view::npos) return false;
      hex = p_.substr(i_ + 1, close - i_ - 1);
      i_ = close + 1;
    } else {
      size_t n = big ? 8 : 4;
      hex = p_.substr(i_, n);
      if (hex.size() != n) return false;
      i_ += n;
    }
    if (hex.empty()) return false;
    for (char h : hex)
      if (!is_hex(h)) return false;
    out += "\\x{";
    out.append(hex);
    out += '}';
    return true;
  }

  // Escapes both dialects reject or read differently. i_ is on the letter.
  bool refused_escape(char e) const { return e == 'Q' || e == 'E' || e == 'C' || (e >= '0' && e <= '9'); }

  bool outside_escape() {
    if (i_ + 1 >= p_.size()) return false;
    const char e = p_[i_ + 1];
    if (refused_escape(e)) return false;
    ++i_;
    switch (e) {
      case 'd': out_ += "\\p{Nd}"; ++i_; return true;
      case 'D': out_ += "\\P{Nd}"; ++i_; return true;
      case 's': class_of(kSpaceMembers, false); ++i_; return true;
      case 'S': class_of(kSpaceMembers, true); ++i_; return true;
      case 'w': class_of(kWordMembers, false); ++i_; return true;
      case 'W': class_of(kWordMembers, true); ++i_; return true;
      case 'u':
      case 'U': return unicode_escape(out_);
      default:
        out_ += '\\';
        copy_char(out_);
        return true;
    }
  }

  void class_of(std::string_view members, bool negated) {
    out_ += negated ? "[^" : "[";
    out_.append(members);
    out_ += ']';
  }

  // Copies one whole UTF-8 character.
  void copy_char(std::string& out) {
    size_t n = 1;
    auto b = static_cast<unsigned char>(p_[i_]);
    if (b >= 0xF0) n = 4;
    else if (b >= 0xE0) n = 3;
    else if (b >= 0xC0) n = 2;
    n = std::min(n, p_.size() - i_);
    out.append(p_.substr(i_, n));
    i_ += n;
  }

  // A bracket expression, i_ on '['. Members are collected apart so that a
  // lone \S or \W can become the negation of the whole bracket.
  bool bracket() {
    ++i_;
    bool negated = false;
    if (i_ < p_.size() && p_[i_] == '^') {
      negated = true;
      ++i_;
    }
    std::string body;
    unsigned members = 0;
    int lone = 0;  // 1: \S, 2: \W
    bool first = true;
    while (true) {
      if (i_ >= p_.size()) return false;
      char c = p_[i_];
      if (c == ']' && !first) {
        ++i_;
        break;
      }
      first = false;
      if (c == '[') {
        // Only an ASCII class like [:alpha:] may open inside a bracket.
        size_t close = p_.find(":]", i_ + 2);
        if (i_ + 1 >= p_.size() || p_[i_ + 1] != ':' || close == std::string_view::npos) return false;
        body.append(p_.substr(i_, close + 2 - i_));
        i_ = close + 2;
        ++members;
        continue;
      }
      if ((c == '&' || c == '-' || c == '~') && i_ + 1 < p_.size() && p_[i_ + 1] == c) return false;
      if (c == '\\') {
        if (i_ + 1 >= p_.size()) return false;
        const char e = p_[i_ + 1];
        if (refused_escape(e)) return false;
        ++i_;
        switch (e) {
          case 'd': body += "\\p{Nd}"; ++i_; break;
          case 'D': body += "\\P{Nd}"; ++i_; break;
          case 's': body.append(kSpaceMembers); ++i_; break;
          case 'w': body.append(kWordMembers); ++i_; break;
          case 'S': lone = 1; ++i_; break;
          case 'W': lone = 2; ++i_; break;
          case 'u':
          case 'U':
            if (!unicode_escape(body)) return false;
            break;
          default:
            body += '\\';
            copy_char(body);
        }
        if (e == 'S' || e == 'W') {
          if (members > 0) return false;
          members += 100;  // anything beside it is refused
        } else {
          if (members >= 100) return false;
          ++members;
        }
        continue;
      }
      if (members >= 100) return false;
      ++members;
      copy_char(body);
    }
    if (lone) {
      // [\S] is \S; [^\S] is \s.
      class_of(lone == 1 ? kSpaceMembers : kWordMembers, !negated);
      return true;
    }
    out_ += negated ? "[^" : "[";
    out_ += body;
    out_ += ']';
    return true;
  }

  std::string_view p_;
  size_t i_ = 0;
  unsigned depth_ = 0;
  std::string out_;
};

class Re2Pattern final : public CompiledPattern {
 public:
  Re2Pattern(const std::string& text, const RE2::Options& options) : re_(text, options) {}
  bool ok() const { return re_.ok(); }
  bool search(std::string_view text) const override {
    return RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), re_);
  }

 private:
  RE2 re_;
};

std::shared_ptr<const CompiledPattern> compile_uncached(std::string_view pattern) {
  std::optional<std::string> translated = translate_pattern(pattern);
  if (!translated) return nullptr;
  RE2::Options options;
  options.set_log_errors(false);
  options.set_max_mem(int64_t{16} << 20);
  options.set_encoding(RE2::Options::EncodingUTF8);
  options.set_never_capture(true);
  auto re = std::make_shared<Re2Pattern>(*translated, options);
  if (!re->ok()) return nullptr;
  return re;
}

// Compiling a Unicode class can take RE2 a long time, so results outlive
// the call. The table is bounded; when full it starts over.
struct PatternCache {
  static constexpr size_t kCapacity = 1024;
  std::mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<const CompiledPattern>> entries;
};

PatternCache& pattern_cache() {
  static PatternCache* cache = new PatternCache();  // never destroyed: used until exit
  return *cache;
}

}  // namespace

std::optional<std::string> translate_pattern(std::string_view pattern) { return Translator(pattern).run(); }

std::shared_ptr<const CompiledPattern> compile_schema_pattern(std::string_view pattern) {
  PatternCache& cache = pattern_cache();
  std::string key(pattern);
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.entries.find(key);
    if (it != cache.entries.end()) return it->second;
  }
  // Compiled outside the lock: other threads keep using the cache meanwhile.
  std::shared_ptr<const CompiledPattern> compiled = compile_uncached(pattern);
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.entries.size() >= PatternCache::kCapacity) cache.entries.clear();
  auto [it, inserted] = cache.entries.emplace(std::move(key), compiled);
  return it->second;
}

std::string invalid_pattern_message(std::string_view pattern) {
  std::string m = "schema has an invalid regex pattern /";
  m.append(pattern);
  m += '/';
  return m;
}

}  // namespace qf
