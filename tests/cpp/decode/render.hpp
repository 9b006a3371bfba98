// Compact rendering of value trees for test expectations:
//   null true 1 1.5f "a" big(123) big16(ff) ts(2001-02-03) [a, b] {k: v} !t(v)
#pragma once
#include <cstdio>
#include <string>

#include "decode/value.hpp"
#include "resolver/timestamp.hpp"

namespace qf_test {

inline void render_into(const qf::Value& v, std::string& out) {
  using qf::ValueKind;
  switch (v.kind()) {
    case ValueKind::Null: out += "null"; break;
    case ValueKind::Bool: out += v.as_bool() ? "true" : "false"; break;
    case ValueKind::Int: out += std::to_string(v.as_int()); break;
    case ValueKind::BigInt:
      out += v.big_int_radix() == 10 ? "big(" : "big" + std::to_string(v.big_int_radix()) + "(";
      out += v.big_int_text();
      out += ')';
      break;
    case ValueKind::Float: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%gf", v.as_float());
      out += buf;
      break;
    }
    case ValueKind::String: out += '"'; out += v.as_string(); out += '"'; break;
    case ValueKind::Timestamp: out += "ts(" + qf::format_timestamp(v.as_timestamp()) + ")"; break;
    case ValueKind::Sequence: {
      out += '[';
      bool first = true;
      for (const qf::Value& item : v.items()) {
        if (!first) out += ", ";
        first = false;
        render_into(item, out);
      }
      out += ']';
      break;
    }
    case ValueKind::Mapping: {
      out += '{';
      bool first = true;
      for (const qf::ValuePair& p : v.pairs()) {
        if (!first) out += ", ";
        first = false;
        render_into(p.key, out);
        out += ": ";
        render_into(p.value, out);
      }
      out += '}';
      break;
    }
    case ValueKind::Tagged:
      out += v.tag() + "(";
      render_into(v.inner(), out);
      out += ')';
      break;
  }
}

inline std::string render(const qf::Value& v) {
  std::string out;
  render_into(v, out);
  return out;
}

}  // namespace qf_test
