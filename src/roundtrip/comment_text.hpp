// Checks and splitting of comment texts that programs attach to source
// nodes (node comment setters, the value classes). A text accepted here is
// one the emitter can write and the scanner reads back unchanged, so an
// edited document always reloads.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/ast.hpp"

namespace qf {

// Every failure here is a ValueError with one of these texts.
inline constexpr std::string_view kInlineCommentBreakMessage =
    "an inline comment cannot contain a line break; use comment_before or comment_after for a multi-line comment";
inline constexpr std::string_view kCommentUnicodeBreakMessage =
    "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines";
inline constexpr std::string_view kCommentControlCharMessage =
    "a comment cannot contain control characters other than tab";

inline constexpr std::string_view kInlineCommentOnKeyMessage =
    "an inline comment cannot be set on a mapping key; set it on the value";

// Which head comment lines to take: every line, the lines above the node's
// introducer line, or those below it.
enum class HeadCommentFilter : uint8_t { All = 0, Above = 1, Below = 2 };

// The selected lines joined with "\n"; nothing when no line is selected.
std::optional<std::string> head_comment_text(const std::vector<HeadComment>& head, HeadCommentFilter filter);

// The text holds a character the scanner refuses in a comment: a C0 control
// other than TAB (LF and CR included: callers split lines first), DEL, a C1
// control other than NEL, U+FFFE or U+FFFF.
bool has_disallowed_comment_char(std::string_view text) noexcept;

// nullopt when the text may be an inline comment; otherwise the message of
// the ValueError: a line break (LF, CR, NEL, LS, PS) first, then a refused
// control character.
std::optional<std::string_view> validate_inline_comment(std::string_view text) noexcept;

// A multi-line comment split into lines at LF, CR and CR LF; every piece is a
// line, empty ones included (the empty text is one empty line). Fails on NEL,
// LS or PS, then on a refused control character.
struct CommentLines {
  std::vector<std::string> lines;
  std::optional<std::string_view> error;  // ValueError message
  bool ok() const noexcept { return !error.has_value(); }
};
CommentLines split_comment_lines(std::string_view text);

// Whether the emitter writes an inline comment set on this node: nothing
// when it does, else the message the setter refuses it with. A mapping key
// has no place of its own for one (the comment after "key: value" belongs
// to the value).
std::optional<std::string_view> inline_comment_placement_error(const YamlNode& node, bool is_mapping_key) noexcept;

// Head comment records for the lines, all above the introducer.
std::vector<HeadComment> head_comments_from_lines(std::vector<std::string> lines);

}  // namespace qf
