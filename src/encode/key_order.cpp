#include "encode/key_order.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"

namespace qf {

namespace {

int rank_of(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null: return 0;
    case ValueKind::Bool: return 1;
    case ValueKind::Int:
    case ValueKind::BigInt:
    case ValueKind::Float: return 2;
    case ValueKind::String:
    case ValueKind::Timestamp: return 3;
    default: return 4;
  }
}

template <class T>
int three_way(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// ---- numbers ----

constexpr uint64_t kPositiveQuietNan = 0x7FF8000000000000ull;

// IEEE 754 total-order key of a double's bits, as a signed integer.
int64_t total_order_key(uint64_t bits) {
  int64_t k = static_cast<int64_t>(bits);
  return k < 0 ? k ^ INT64_MAX : k;
}

bool valid_big_int_text(const Value& v) {
  const std::string_view t = v.big_int_text();
  unsigned radix = v.big_int_radix();
  if (radix != 2 && radix != 8 && radix != 10 && radix != 16) return false;
  size_t i = (!t.empty() && t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    if (d >= radix) return false;
  }
  return true;
}

// Position of a number in the coarse order: -1 negative NaN, 0 an ordinary
// number (infinities included), 1 positive NaN. A BigInt whose text is not
// an integer counts as the positive quiet NaN.
int nan_class(const Value& v, int64_t& nan_key) {
  if (v.kind() == ValueKind::Float && std::isnan(v.as_float())) {
    uint64_t bits = std::bit_cast<uint64_t>(v.as_float());
    nan_key = total_order_key(bits);
    return std::signbit(v.as_float()) ? -1 : 1;
  }
  if (v.kind() == ValueKind::BigInt && !valid_big_int_text(v)) {
    nan_key = total_order_key(kPositiveQuietNan);
    return 1;
  }
  return 0;
}

int sign_of(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Int: return three_way<int64_t>(v.as_int(), 0);
    case ValueKind::Float: return three_way(v.as_float(), 0.0);
    default: {  // BigInt
      const std::string_view t = v.big_int_text();
      bool neg = !t.empty() && t[0] == '-';
      bool zero = true;
      for (size_t i = neg ? 1 : 0; i < t.size(); ++i)
        if (t[i] != '0') zero = false;
      return zero ? 0 : (neg ? -1 : 1);
    }
  }
}

// Magnitude of an integer or a finite double as little-endian 64-bit limbs
// of its integral part, plus whether a fraction remains.
struct Magnitude {
  std::vector<uint64_t> limbs;
  bool fraction = false;
};

void trim(std::vector<uint64_t>& limbs) {
  while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
}

Magnitude magnitude_of(const Value& v) {
  Magnitude m;
  switch (v.kind()) {
    case ValueKind::Int: {
      int64_t i = v.as_int();
      uint64_t u = i < 0 ? uint64_t{0} - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
      m.limbs.push_back(u);
      break;
    }
    case ValueKind::Float: {
      double a = std::fabs(v.as_float());
      if (a < 18446744073709551616.0) {  // 2**64
        double fl = std::floor(a);
        m.limbs.push_back(static_cast<uint64_t>(fl));
        m.fraction = fl != a;
      } else {
        // a = mant * 2**shift with a 53-bit integer mantissa; integral.
        int exp = 0;
        double frac = std::frexp(a, &exp);
        uint64_t mant = static_cast<uint64_t>(std::ldexp(frac, 53));
        int shift = exp - 53;
        size_t word = static_cast<size_t>(shift / 64);
        int bit = shift % 64;
        m.limbs.assign(word + 2, 0);
        m.limbs[word] = mant << bit;
        if (bit != 0) m.limbs[word + 1] = mant >> (64 - bit);
      }
      break;
    }
    default:
      m.limbs = big_int_magnitude(v.big_int_text(), v.big_int_radix());
      break;
  }
  trim(m.limbs);
  return m;
}

int compare_magnitudes(const Magnitude& a, const Magnitude& b) {
  if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
  for (size_t i = a.limbs.size(); i-- > 0;)
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
  return three_way<int>(a.fraction, b.fraction);
}

// Int against a finite double, exactly.
int compare_int_double(int64_t i, double d) {
  if (d >= 9223372036854775808.0) return -1;
  if (d < -9223372036854775808.0) return 1;
  double t = std::trunc(d);
  int64_t ti = static_cast<int64_t>(t);
  if (i != ti) return i < ti ? -1 : 1;
  return three_way(t, d);  // i == trunc(d): d's fraction decides
}

bool is_negative_zero(const Value& v) {
  return v.kind() == ValueKind::Float && v.as_float() == 0.0 && std::signbit(v.as_float());
}

// Exact comparison of two non-NaN numbers, zeros of every kind equal.
int compare_values_exactly(const Value& a, const Value& b) {
  ValueKind ka = a.kind(), kb = b.kind();
  if (ka == ValueKind::Int && kb == ValueKind::Int) return three_way(a.as_int(), b.as_int());
  if (ka == ValueKind::Float && kb == ValueKind::Float) return three_way(a.as_float(), b.as_float());
  // Infinities against anything that is not a float.
  if (ka == ValueKind::Float && std::isinf(a.as_float())) return a.as_float() > 0 ? 1 : -1;
  if (kb == ValueKind::Float && std::isinf(b.as_float())) return b.as_float() > 0 ? -1 : 1;
  if (ka == ValueKind::Int && kb == ValueKind::Float) return compare_int_double(a.as_int(), b.as_float());
  if (ka == ValueKind::Float && kb == ValueKind::Int) return -compare_int_double(b.as_int(), a.as_float());
  int sa = sign_of(a), sb = sign_of(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  int c = compare_magnitudes(magnitude_of(a), magnitude_of(b));
  return sa > 0 ? c : -c;
}

// ---- text ----

int compare_texts(const Value& a, const Value& b) {
  std::string ta, tb;
  std::string_view va, vb;
  if (a.kind() == ValueKind::Timestamp) {
    append_timestamp_text(a.as_timestamp(), ta);
    va = ta;
  } else {
    va = a.as_string();
  }
  if (b.kind() == ValueKind::Timestamp) {
    append_timestamp_text(b.as_timestamp(), tb);
    vb = tb;
  } else {
    vb = b.as_string();
  }
  int c = va.compare(vb);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int compare_numbers(const Value& a, const Value& b) {
  int64_t nan_a = 0, nan_b = 0;
  int ca = nan_class(a, nan_a), cb = nan_class(b, nan_b);
  if (ca != cb) return ca < cb ? -1 : 1;
  if (ca != 0) return three_way(nan_a, nan_b);
  int c = compare_values_exactly(a, b);
  if (c != 0) return c;
  // Equal values: only a negative zero float precedes the other zeros.
  return three_way<int>(!is_negative_zero(a), !is_negative_zero(b));
}

bool compare_sort_keys(const Value& a, const Value& b) {
  int ra = rank_of(a), rb = rank_of(b);
  if (ra != rb) return ra < rb;
  switch (ra) {
    case 1: return !a.as_bool() && b.as_bool();
    case 2: return compare_numbers(a, b) < 0;
    case 3:
      if (a.kind() == ValueKind::String && b.kind() == ValueKind::String)
        return a.as_string() < b.as_string();
      return compare_texts(a, b) < 0;
    default: return false;
  }
}

std::vector<const ValuePair*> mapping_entry_order(const PairList& pairs, bool sort_keys) {
  std::vector<const ValuePair*> order;
  order.reserve(pairs.size());
  for (const ValuePair& p : pairs) order.push_back(&p);
  if (sort_keys && order.size() >= 2) {
    std::stable_sort(order.begin(), order.end(), [](const ValuePair* x, const ValuePair* y) {
      return compare_sort_keys(x->key, y->key);
    });
  }
  return order;
}

}  // namespace qf
