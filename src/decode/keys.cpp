#include "decode/keys.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"

namespace qf {
namespace {

void append_u64(std::string& out, uint64_t v) {
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
  out.append(buf, static_cast<size_t>(n));
}

void append_i64(std::string& out, int64_t v) {
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  out.append(buf, static_cast<size_t>(n));
}

// A magnitude beyond the 64-bit range, as sign and hexadecimal limbs.
void append_wide_magnitude(std::string& out, bool negative, const std::vector<uint64_t>& limbs) {
  out += "N:";
  if (negative) out += '-';
  char buf[24];
  size_t i = limbs.size();
  int n = std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(limbs[i - 1]));
  out.append(buf, static_cast<size_t>(n));
  while (--i > 0) {
    n = std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(limbs[i - 1]));
    out.append(buf, static_cast<size_t>(n));
  }
}

// Integers the host folds together share the "n:" form while they fit 64
// bits; larger ones use their binary magnitude so radixes and floats meet.
void append_big_int(std::string& out, const Value& v) {
  const std::string_view text = v.big_int_text();
  uint8_t radix = v.big_int_radix();
  bool negative = !text.empty() && text[0] == '-';
  // Decimal-to-binary is quadratic; beyond a few thousand digits the host
  // refuses such literals anyway, so keep the text as its identity.
  if (radix == 10 && text.size() > 5000) {
    out += "Nd:";
    out += text;
    return;
  }
  std::vector<uint64_t> limbs = big_int_magnitude(text, radix);
  if (limbs.empty()) {
    out += "n:0";
    return;
  }
  if (limbs.size() == 1) {
    uint64_t m = limbs[0];
    if (m <= static_cast<uint64_t>(INT64_MAX)) {
      out += "n:";
      append_i64(out, negative ? -static_cast<int64_t>(m) : static_cast<int64_t>(m));
      return;
    }
    if (negative && m == (uint64_t(1) << 63)) {
      out += "n:";
      append_i64(out, INT64_MIN);
      return;
    }
  }
  append_wide_magnitude(out, negative, limbs);
}

void append_float(std::string& out, double d) {
  if (std::isfinite(d) && d == std::trunc(d)) {
    if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
      out += "n:";
      append_i64(out, static_cast<int64_t>(d));
      return;
    }
    // Integral and at least 2**63 in magnitude: mantissa shifted into limbs.
    int exp = 0;
    double frac = std::frexp(std::fabs(d), &exp);  // |d| = frac * 2**exp
    uint64_t mant = static_cast<uint64_t>(std::ldexp(frac, 53));
    int shift = exp - 53;  // >= 11 here
    std::vector<uint64_t> limbs(static_cast<size_t>(shift / 64) + 2, 0);
    size_t word = static_cast<size_t>(shift / 64);
    int bit = shift % 64;
    limbs[word] = mant << bit;
    if (bit != 0) limbs[word + 1] = mant >> (64 - bit);
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    append_wide_magnitude(out, d < 0, limbs);
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  out += "f:";
  append_u64(out, bits);
}

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void append_timestamp(std::string& out, const YamlTimestamp& ts) {
  if (ts.is_date()) {
    out += "d:";
    append_timestamp_text(ts, out);
  } else if (!ts.offset_minutes) {
    out += "t:";
    append_timestamp_text(ts, out);
  } else {
    // Aware date-times are equal when they name the same instant.
    int64_t secs = days_from_civil(ts.year, ts.month, ts.day) * 86400 + ts.hour * 3600 +
                   ts.minute * 60 + ts.second - int64_t(*ts.offset_minutes) * 60;
    out += "z:";
    append_i64(out, secs);
    out += '.';
    append_u64(out, ts.microsecond);
  }
}

// Work item of the iterative walk: a value to render or a literal to append.
struct FpItem {
  const Value* value;
  const char* literal;
};

}  // namespace

void append_key_fingerprint(const Value& key, std::string& out, KeyTags tags) {
  std::vector<FpItem> stack;
  stack.push_back({&key, nullptr});
  while (!stack.empty()) {
    FpItem item = stack.back();
    stack.pop_back();
    if (item.literal) {
      out += item.literal;
      continue;
    }
    const Value& v = *item.value;
    switch (v.kind()) {
      case ValueKind::Null:
        out += "null";
        break;
      case ValueKind::Bool:
        out += v.as_bool() ? "n:1" : "n:0";
        break;
      case ValueKind::Int:
        out += "n:";
        append_i64(out, v.as_int());
        break;
      case ValueKind::BigInt:
        append_big_int(out, v);
        break;
      case ValueKind::Float:
        append_float(out, v.as_float());
        break;
      case ValueKind::String:
        out += "s:";
        append_u64(out, v.as_string().size());
        out += ':';
        out += v.as_string();
        break;
      case ValueKind::Timestamp:
        append_timestamp(out, v.as_timestamp());
        break;
      case ValueKind::Sequence: {
        // The host turns collection keys into tuples: a sequence into the
        // tuple of its items, a mapping into the tuple of its (key, value)
        // pairs, so both share one form.
        const ValueList& items = v.items();
        out += '(';
        stack.push_back({nullptr, ")"});
        for (size_t i = items.size(); i-- > 0;) {
          stack.push_back({&items[i], nullptr});
          if (i != 0) stack.push_back({nullptr, ","});
        }
        break;
      }
      case ValueKind::Mapping: {
        const PairList& pairs = v.pairs();
        out += '(';
        stack.push_back({nullptr, ")"});
        for (size_t i = pairs.size(); i-- > 0;) {
          stack.push_back({nullptr, ")"});
          stack.push_back({&pairs[i].value, nullptr});
          stack.push_back({nullptr, ","});
          stack.push_back({&pairs[i].key, nullptr});
          stack.push_back({nullptr, "("});
          if (i != 0) stack.push_back({nullptr, ","});
        }
        break;
      }
      case ValueKind::Tagged:
        if (tags == KeyTags::Dropped || v.tag() == kMergeTag) {
          stack.push_back({&v.inner(), nullptr});
          break;
        }
        out += "g:";
        append_u64(out, v.tag().size());
        out += ':';
        out += v.tag();
        out += ':';
        stack.push_back({&v.inner(), nullptr});
        break;
    }
  }
}

std::string duplicate_key_fingerprint(const Value& key, KeyTags tags) {
  std::string out;
  append_key_fingerprint(key, out, tags);
  return out;
}

std::string duplicate_key_display(const Value& key, KeyTags tags) {
  const Value* shown = &key;
  if (tags == KeyTags::Dropped)
    while (shown->is(ValueKind::Tagged)) shown = &shown->inner();
  if (shown->is(ValueKind::String)) return std::string(shown->as_string());
  return value_debug_text(*shown);
}

std::optional<LoadError> complex_key_error(bool reject, const Value& key, const Span& span) {
  if (!reject) return std::nullopt;
  const char* what = nullptr;
  if (key.is(ValueKind::Sequence)) what = "a sequence";
  else if (key.is(ValueKind::Mapping)) what = "a mapping";
  if (!what) return std::nullopt;
  return LoadError{std::string("complex mapping key (") + what + " used as a key)", span,
                   LoadErrorKind::ComplexKey};
}

}  // namespace qf
