// Scalar styles chosen or checked for the texts a represent callback asks
// for: the automatic choice keeps the text a string on reload, and an
// explicit style is refused with the first reason it would not read back as
// the same text. Pure functions of the text: no host object, no allocation.
#pragma once
#include <optional>
#include <string_view>

#include "resolver/resolver.hpp"
#include "scanner/token.hpp"

namespace qf {

// Literal when the text fits a literal block; else plain when it reads back
// as the same string; else double quotes when preferred or the text has a
// "'"; else single quotes when it is single-line printable, double otherwise.
// Never Folded.
ScalarStyle scalar_style_for_represented_str(std::string_view text, bool prefer_double_quotes, ResolverMode mode);

// Nothing when `style` can carry the text unchanged, else the reason (one of
// fifteen fixed texts). Double quotes always pass.
std::optional<std::string_view> explicit_style_refusal(ScalarStyle style, std::string_view text) noexcept;

// "plain", "single", "double", "literal" or "folded".
std::string_view represent_style_name(ScalarStyle style) noexcept;

}  // namespace qf
