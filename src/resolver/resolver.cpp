// Mode dispatch, owned results and the 1.1-versus-1.2 ambiguity check.
#include "resolver/resolver.hpp"

namespace qf {

std::string_view resolved_kind_name(ResolvedKind kind) noexcept {
  static constexpr std::string_view kNames[] = {"null", "bool", "int", "int", "float", "str", "merge"};
  auto i = static_cast<size_t>(kind);
  return i < std::size(kNames) ? kNames[i] : std::string_view("str");
}

ResolvedScalar make_resolved_scalar(const Resolution& r, std::string_view text) {
  ResolvedScalar out;
  out.kind = r.kind;
  switch (r.kind) {
    case ResolvedKind::Null:
      break;
    case ResolvedKind::Bool:
      out.truth = r.truth;
      break;
    case ResolvedKind::Int:
      out.int_value = r.int_value;
      break;
    case ResolvedKind::Float:
      out.float_value = r.float_value;
      break;
    case ResolvedKind::BigInt:
      if (auto big = big_int_text(text)) {
        out.text = std::move(big->text);
        out.radix = big->radix;
      } else {
        out.text.assign(text);  // not reached for texts the resolvers call BigInt
      }
      break;
    case ResolvedKind::Merge:
      out.kind = ResolvedKind::Str;
      out.text = "<<";
      break;
    case ResolvedKind::Str:
    default:
      out.kind = ResolvedKind::Str;
      out.text.assign(text);
      break;
  }
  return out;
}

ResolvedScalar resolve_scalar_owned(ResolverMode mode, std::string_view text, ScalarStyle style,
                                    ScalarTag tag) {
  return make_resolved_scalar(resolve_scalar(mode, text, style, tag), text);
}

ResolvedScalar resolve_yaml11_owned(bool strict, std::string_view text, ScalarStyle style,
                                    ScalarTag tag) {
  return make_resolved_scalar(resolve_yaml11(strict, text, style, tag), text);
}

std::optional<KindNamePair> yaml11_ambiguity(ResolverMode mode, std::string_view text,
                                             ScalarStyle style, ScalarTag tag) noexcept {
  if (mode == ResolverMode::Yaml12) return std::nullopt;
  std::string_view mine = resolved_kind_name(resolve_scalar(mode, text, style, tag).kind);
  std::string_view v12 = resolved_kind_name(resolve_yaml12(text, style, tag).kind);
  if (mine == v12 || mine == "str") return std::nullopt;
  return KindNamePair{mine, v12};
}

}  // namespace qf
