#include "schema/values.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "resolver/resolver.hpp"
#include "support/hash.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

bool is_number(const Value& v) {
  return v.is(ValueKind::Int) || v.is(ValueKind::Float) || v.is(ValueKind::BigInt);
}

// Integer of an Int or an integral Float that fits int64.
bool float_equals_int(double f, int64_t i) {
  // [-2^63, 2^63) is exactly the range of doubles that convert without UB.
  if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return false;
  if (f != std::trunc(f)) return false;
  return static_cast<int64_t>(f) == i;
}

std::vector<uint64_t> magnitude_of(const Value& v) { return big_int_magnitude(v.big_int_text(), v.big_int_radix()); }

bool big_ints_equal(const Value& a, const Value& b) {
  if (a.big_int_radix() == b.big_int_radix()) return a.big_int_text() == b.big_int_text();
  const bool na = !a.big_int_text().empty() && a.big_int_text()[0] == '-';
  const bool nb = !b.big_int_text().empty() && b.big_int_text()[0] == '-';
  if (na != nb) return false;
  // Sizes far apart cannot be equal; only then are magnitudes built.
  const double da = big_int_to_double(a.big_int_text(), a.big_int_radix());
  const double db = big_int_to_double(b.big_int_text(), b.big_int_radix());
  if (da != db) return false;
  return magnitude_of(a) == magnitude_of(b);
}

bool big_int_equals_float(const Value& big, double f) {
  if (!std::isfinite(f) || f != std::trunc(f)) return false;
  std::optional<double> exact = big_int_exact_double(big.big_int_text(), big.big_int_radix());
  return exact && *exact == f;
}

bool numbers_equal(const Value& a, const Value& b) {
  switch (a.kind()) {
    case ValueKind::Int:
      if (b.is(ValueKind::Int)) return a.as_int() == b.as_int();
      if (b.is(ValueKind::Float)) return float_equals_int(b.as_float(), a.as_int());
      return false;  // a BigInt lies outside the 64-bit range
    case ValueKind::Float:
      if (b.is(ValueKind::Float)) return a.as_float() == b.as_float();
      if (b.is(ValueKind::Int)) return float_equals_int(a.as_float(), b.as_int());
      return big_int_equals_float(b, a.as_float());
    default:  // BigInt
      if (b.is(ValueKind::BigInt)) return big_ints_equal(a, b);
      if (b.is(ValueKind::Float)) return big_int_equals_float(a, b.as_float());
      return false;
  }
}

uint64_t pair_hash(const ValuePair& p) { return value_hash(p.key) * 31 + value_hash(p.value); }

bool mappings_equal(const Value& a, const Value& b) {
  const PairList& pa = a.pairs();
  const PairList& pb = b.pairs();
  if (pa.size() != pb.size()) return false;
  // Equality is an equivalence, so taking any unused equal pair finds a
  // one-to-one pairing whenever one exists. Pairs of b wait in buckets by
  // hash; a matched pair leaves its bucket, so repeated pairs cost nothing.
  std::unordered_map<uint64_t, std::vector<size_t>> buckets;
  for (size_t j = 0; j < pb.size(); ++j) buckets[pair_hash(pb[j])].push_back(j);
  for (const ValuePair& p : pa) {
    auto it = buckets.find(pair_hash(p));
    if (it == buckets.end()) return false;
    std::vector<size_t>& bucket = it->second;
    bool found = false;
    for (size_t k = 0; k < bucket.size(); ++k) {
      const ValuePair& q = pb[bucket[k]];
      if (values_equal(p.key, q.key) && values_equal(p.value, q.value)) {
        bucket[k] = bucket.back();
        bucket.pop_back();
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

uint64_t hash_double(double d) {
  if (std::isnan(d)) return 0x7ff8;
  if (d == 0) d = 0;  // -0.0 equals 0.0
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  // Keyed with the process seed, so crafted documents cannot line up
  // collisions of collection hashes.
  return mix(bits ^ process_hash_seed());
}

}  // namespace

std::string_view json_type_name(const Value& v) noexcept {
  switch (v.kind()) {
    case ValueKind::Null: return "null";
    case ValueKind::Bool: return "boolean";
    case ValueKind::Int:
    case ValueKind::BigInt: return "integer";
    case ValueKind::Float: return "number";
    case ValueKind::String:
    case ValueKind::Timestamp: return "string";
    case ValueKind::Sequence: return "array";
    case ValueKind::Mapping: return "object";
    case ValueKind::Tagged: return json_type_name(v.inner());
  }
  return "null";
}

double big_int_to_double(std::string_view text, uint8_t radix) {
  const bool negative = !text.empty() && text[0] == '-';
  if (radix == 10) {
    // Correctly rounded and linear; out-of-range magnitudes give infinity.
    std::optional<double> d = parse_decimal_float(text);
    return d ? *d : 0.0;
  }
  std::vector<uint64_t> limbs = big_int_magnitude(text, radix);
  if (limbs.empty()) return 0.0;
  // The top 64 significant bits with a sticky bit for everything below
  // round exactly as the whole magnitude would.
  const int top_bits = 64 - __builtin_clzll(limbs.back());
  const size_t total = (limbs.size() - 1) * 64 + size_t(top_bits);
  uint64_t m;
  bool sticky = false;
  if (total <= 64) {
    m = limbs[0];
  } else {
    const size_t shift = total - 64;  // bits dropped below the top 64
    const size_t limb = shift / 64, off = shift % 64;
    m = limbs[limb] >> off;
    if (off && limb + 1 < limbs.size()) m |= limbs[limb + 1] << (64 - off);
    if (off) sticky = (limbs[limb] & ((uint64_t{1} << off) - 1)) != 0;
    for (size_t i = 0; i < limb && !sticky; ++i) sticky = limbs[i] != 0;
  }
  if (sticky) m |= 1;
  double d = std::ldexp(static_cast<double>(m), total > 64 ? int(total - 64) : 0);
  return negative ? -d : d;
}

std::optional<__int128> big_int_to_int128(std::string_view text, uint8_t radix) {
  const bool negative = !text.empty() && text[0] == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 130) return std::nullopt;  // cheap bound before building limbs
  std::vector<uint64_t> limbs = big_int_magnitude(text, radix);
  if (limbs.size() > 2) return std::nullopt;
  unsigned __int128 mag = 0;
  if (!limbs.empty()) mag = limbs[0];
  if (limbs.size() == 2) mag |= static_cast<unsigned __int128>(limbs[1]) << 64;
  const unsigned __int128 limit = static_cast<unsigned __int128>(1) << 127;
  if (negative) {
    if (mag > limit) return std::nullopt;
    return mag == limit ? std::numeric_limits<__int128>::min() : -static_cast<__int128>(mag);
  }
  if (mag >= limit) return std::nullopt;
  return static_cast<__int128>(mag);
}

std::optional<double> numeric_value(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Int: return static_cast<double>(v.as_int());
    case ValueKind::Float: return v.as_float();
    case ValueKind::BigInt: return big_int_to_double(v.big_int_text(), v.big_int_radix());
    default: return std::nullopt;
  }
}

std::optional<__int128> integer_value(const Value& v) {
  if (v.is(ValueKind::Int)) return v.as_int();
  if (v.is(ValueKind::BigInt)) return big_int_to_int128(v.big_int_text(), v.big_int_radix());
  return std::nullopt;
}

bool values_equal(const Value& a, const Value& b) {
  if (is_number(a) && is_number(b)) return numbers_equal(a, b);
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case ValueKind::Null: return true;
    case ValueKind::Bool: return a.as_bool() == b.as_bool();
    case ValueKind::String: return a.as_string() == b.as_string();
    case ValueKind::Timestamp: return a.as_timestamp() == b.as_timestamp();
    case ValueKind::Sequence: {
      const ValueList& x = a.items();
      const ValueList& y = b.items();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i)
        if (!ensure_stack([&] { return values_equal(x[i], y[i]); })) return false;
      return true;
    }
    case ValueKind::Mapping: return ensure_stack([&] { return mappings_equal(a, b); });
    case ValueKind::Tagged:
      return a.tag() == b.tag() && ensure_stack([&] { return values_equal(a.inner(), b.inner()); });
    default: return false;
  }
}

bool holds_nan(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Float: return std::isnan(v.as_float());
    case ValueKind::Sequence:
      for (const Value& item : v.items())
        if (ensure_stack([&] { return holds_nan(item); })) return true;
      return false;
    case ValueKind::Mapping:
      for (const ValuePair& p : v.pairs())
        if (ensure_stack([&] { return holds_nan(p.key) || holds_nan(p.value); })) return true;
      return false;
    case ValueKind::Tagged: return ensure_stack([&] { return holds_nan(v.inner()); });
    default: return false;
  }
}

uint64_t value_hash(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null: return 0x51;
    case ValueKind::Bool: return v.as_bool() ? 0xb1 : 0xb0;
    // Numbers by the nearest double: equal values round to the same one.
    case ValueKind::Int: return hash_double(static_cast<double>(v.as_int()));
    case ValueKind::Float: return hash_double(v.as_float());
    case ValueKind::BigInt: return hash_double(big_int_to_double(v.big_int_text(), v.big_int_radix()));
    case ValueKind::String: return mix(hash_bytes(v.as_string()) + 0x57);
    case ValueKind::Timestamp: {
      const YamlTimestamp& t = v.as_timestamp();
      return mix(uint64_t(t.year) * 372 + uint64_t(t.month) * 31 + t.day + 0x7157);
    }
    case ValueKind::Sequence: {
      uint64_t h = process_hash_seed() + 0x5e9;
      for (const Value& item : v.items()) h = mix(h * 1099511628211ULL + ensure_stack([&] { return value_hash(item); }));
      return h;
    }
    case ValueKind::Mapping: {
      // Order-free: equal mappings may list their pairs in any order.
      uint64_t h = process_hash_seed() + 0x3a9;
      for (const ValuePair& p : v.pairs())
        h += mix(ensure_stack([&] { return value_hash(p.key); }) * 31 + ensure_stack([&] { return value_hash(p.value); }));
      return mix(h);
    }
    case ValueKind::Tagged:
      return mix(hash_bytes(v.tag()) ^ ensure_stack([&] { return value_hash(v.inner()); }));
  }
  return 0;
}

}  // namespace qf
