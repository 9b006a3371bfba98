// Paths as the operating system takes them: byte strings split at "/". Pure
// text operations, no file-system access. Unlike std::filesystem, "/" has no
// parent, and "." and empty components never count as names, so joining,
// comparing and the parent walk of the secrets search agree with each other.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::path {

inline bool is_absolute(std::string_view p) noexcept { return !p.empty() && p.front() == '/'; }

// The names of a path: empty and "." components dropped, ".." kept.
std::vector<std::string_view> components(std::string_view p);

// `base` then `rel` with one separator; an absolute `rel` replaces `base`,
// an empty `base` leaves `rel` as it is.
std::string join(std::string_view base, std::string_view rel);

// The path without its last name: none for a root or a path without names,
// the empty path for a single relative name.
std::optional<std::string> parent(std::string_view p);

// Lexical normalisation: "." dropped, ".." removes the name before it (and is
// dropped where there is none), repeated separators folded.
std::string normalize_path(std::string_view p);

// Whole-component relations: /data/conf2 is not inside /data/conf; a path is
// inside itself. An absolute path is never inside a relative one, nor the
// reverse.
bool is_inside(std::string_view p, std::string_view root);
bool path_equal(std::string_view a, std::string_view b);

// Unsigned bytewise order of names ("B" < "a" < "a.yml" < "a1").
inline bool name_less(std::string_view a, std::string_view b) noexcept {
  return a < b;  // char_traits<char>::compare compares as unsigned char
}

// A path as UTF-8 text for messages and host strings: invalid sequences
// become U+FFFD.
std::string path_text(std::string_view p);

}  // namespace qf::path
