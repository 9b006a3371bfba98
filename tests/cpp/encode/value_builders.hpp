// Small builders for Value trees in the encoder tests.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "decode/value.hpp"

namespace qf::test {

inline Value N() { return Value::null(); }
inline Value B(bool b) { return Value::boolean(b); }
inline Value I(int64_t i) { return Value::integer(i); }
inline Value F(double d) { return Value::floating(d); }
inline Value S(std::string_view s) { return Value::string(s); }
inline Value Big(std::string_view text, uint8_t radix = 10) { return Value::big_int(text, radix); }
inline Value T(std::string tag, Value inner) { return Value::tagged(std::move(tag), std::move(inner)); }
inline ValuePair P(Value k, Value v) { return ValuePair(std::move(k), std::move(v)); }

template <class... A>
Value Seq(A&&... items) {
  ValueList l;
  l.reserve(sizeof...(items));
  (l.push_back(std::forward<A>(items)), ...);
  return Value::sequence(std::move(l));
}

template <class... A>
Value Map(A&&... pairs) {
  PairList l;
  l.reserve(sizeof...(pairs));
  (l.push_back(std::forward<A>(pairs)), ...);
  return Value::mapping(std::move(l));
}

}  // namespace qf::test
