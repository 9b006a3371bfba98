// The failure of a directive: what went wrong, in which file, where, and the
// chain of includes that led there.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scanner/token.hpp"

namespace qf::directives {

enum class DirectiveErrorKind : uint8_t {
  IncludeNotFound = 0,
  CircularInclude = 1,
  IncludeDepth = 2,
  IncludeConfinement = 3,
  SecretNotFound = 4,
  EnvVar = 5,
  Parse = 6,
  Include = 7,
};

// One include step: the resolved path of the included file and the 0-based
// line of the directive that included it.
struct IncludeFrame {
  std::string path;
  uint32_t line = 0;
};
using IncludeChain = std::vector<IncludeFrame>;

struct DirectiveError {
  std::optional<Span> position;
  std::string message;
  std::string file;
  IncludeChain include_stack;
  DirectiveErrorKind kind = DirectiveErrorKind::Include;
};

}  // namespace qf::directives
