// A tiny JSON reader for the test-suite comparison: turns a stream of JSON
// values into one canonical text per value, the same text that
// value_canon_text makes from a decoded Value.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf_test {

// Numbers: integers keep their decimal digits; other numbers print as the
// shortest round-tripping double, integral doubles below 1e18 as integers.
inline std::string canon_double(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  if (d == std::floor(d) && std::fabs(d) < 1e18) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(d));
    return buf;
  }
  char buf[40];
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

inline std::string canon_string(std::string_view s) {
  return "S" + std::to_string(s.size()) + ":" + std::string(s);
}

// "{" members sorted and joined by "," "}".
inline std::string join_members(std::vector<std::string>& members) {
  std::sort(members.begin(), members.end());
  std::string o = "{";
  for (size_t i = 0; i < members.size(); ++i) {
    if (i) o += ',';
    o += members[i];
  }
  return o + "}";
}

class JsonCanon {
 public:
  explicit JsonCanon(std::string_view text) : t_(text) {}

  // All values of the stream, or nullopt on a syntax error.
  std::optional<std::vector<std::string>> all() {
    std::vector<std::string> out;
    for (;;) {
      ws();
      if (p_ >= t_.size()) return out;
      std::string v;
      if (!value(v)) return std::nullopt;
      out.push_back(std::move(v));
    }
  }

 private:
  std::string_view t_;
  size_t p_ = 0;

  void ws() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\n' || t_[p_] == '\r' || t_[p_] == '\t')) ++p_;
  }
  bool lit(std::string_view w) {
    if (t_.substr(p_, w.size()) != w) return false;
    p_ += w.size();
    return true;
  }
  static void utf8(std::string& o, uint32_t c) {
    if (c < 0x80) {
      o += char(c);
    } else if (c < 0x800) {
      o += char(0xC0 | (c >> 6));
      o += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      o += char(0xE0 | (c >> 12));
      o += char(0x80 | ((c >> 6) & 0x3F));
      o += char(0x80 | (c & 0x3F));
    } else {
      o += char(0xF0 | (c >> 18));
      o += char(0x80 | ((c >> 12) & 0x3F));
      o += char(0x80 | ((c >> 6) & 0x3F));
      o += char(0x80 | (c & 0x3F));
    }
  }
  bool hex4(uint32_t& c) {
    if (p_ + 4 > t_.size()) return false;
    c = 0;
    for (int i = 0; i < 4; ++i) {
      char h = t_[p_++];
      c <<= 4;
      if (h >= '0' && h <= '9') c |= h - '0';
      else if (h >= 'a' && h <= 'f') c |= h - 'a' + 10;
      else if (h >= 'A' && h <= 'F') c |= h - 'A' + 10;
      else return false;
    }
    return true;
  }
  bool str(std::string& o) {
    if (!lit("\"")) return false;
    while (p_ < t_.size()) {
      char c = t_[p_++];
      if (c == '"') return true;
      if (c != '\\') { o += c; continue; }
      if (p_ >= t_.size()) return false;
      char e = t_[p_++];
      switch (e) {
        case 'n': o += '\n'; break;
        case 't': o += '\t'; break;
        case 'r': o += '\r'; break;
        case 'b': o += '\b'; break;
        case 'f': o += '\f'; break;
        case '/': o += '/'; break;
        case '\\': o += '\\'; break;
        case '"': o += '"'; break;
        case 'u': {
          uint32_t c1;
          if (!hex4(c1)) return false;
          if (c1 >= 0xD800 && c1 < 0xDC00 && lit("\\u")) {
            uint32_t c2;
            if (!hex4(c2)) return false;
            c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
          }
          utf8(o, c1);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool value(std::string& o) {
    ws();
    if (p_ >= t_.size()) return false;
    char c = t_[p_];
    if (c == '{') {
      // Object members are compared as a sorted list: JSON does not order them.
      ++p_;
      std::vector<std::string> members;
      ws();
      if (!lit("}")) {
        for (;;) {
          ws();
          std::string k;
          if (!str(k)) return false;
          std::string m = canon_string(k);
          ws();
          if (!lit(":")) return false;
          m += '=';
          if (!value(m)) return false;
          members.push_back(std::move(m));
          ws();
          if (lit("}")) break;
          if (!lit(",")) return false;
        }
      }
      o += join_members(members);
      return true;
    }
    if (c == '[') {
      ++p_;
      o += '[';
      ws();
      if (lit("]")) { o += ']'; return true; }
      for (;;) {
        if (!value(o)) return false;
        ws();
        if (lit("]")) { o += ']'; return true; }
        if (!lit(",")) return false;
        o += ',';
      }
    }
    if (c == '"') {
      std::string s;
      if (!str(s)) return false;
      o += canon_string(s);
      return true;
    }
    if (lit("null")) { o += "null"; return true; }
    if (lit("true")) { o += "true"; return true; }
    if (lit("false")) { o += "false"; return true; }
    size_t s = p_;
    while (p_ < t_.size() && std::string_view("+-0123456789.eE").find(t_[p_]) != std::string_view::npos) ++p_;
    if (s == p_) return false;
    std::string num(t_.substr(s, p_ - s));
    if (num.find_first_of(".eE") == std::string::npos) {
      if (num[0] == '-' && num.find_first_not_of("0", 1) == std::string::npos) num = "0";
      o += "n" + num;
    } else {
      o += "n" + canon_double(std::strtod(num.c_str(), nullptr));
    }
    return true;
  }
};

}  // namespace qf_test
