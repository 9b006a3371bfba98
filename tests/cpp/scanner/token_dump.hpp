// Compact rendering of a token vector for table-driven tests:
//   "BM K P\"a\" : P\"b\" BE" for "a: b" (stream start and end left out).
#pragma once
#include <string>
#include <vector>

#include "scanner/scanner.hpp"

namespace qf::test {

inline std::string escape_text(std::string_view s) {
  std::string out;
  for (char ch : s) {
    switch (ch) {
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += ch;
    }
  }
  return out;
}

inline std::string render_token(const Token& t) {
  switch (t.kind) {
    case TokenKind::StreamStart: return "<";
    case TokenKind::StreamEnd: return ">";
    case TokenKind::DocumentStart: return "---";
    case TokenKind::DocumentEnd: return "...";
    case TokenKind::MappingStart: return t.flow() ? "{" : "BM";
    case TokenKind::MappingEnd: return "}";
    case TokenKind::SequenceStart: return t.flow() ? "[" : "BS";
    case TokenKind::SequenceEnd: return "]";
    case TokenKind::BlockEnd: return "BE";
    case TokenKind::Key: return t.is_explicit() ? "?K" : "K";
    case TokenKind::Value: return ":";
    case TokenKind::SequenceEntry: return "-";
    case TokenKind::FlowEntry: return ",";
    case TokenKind::Scalar: {
      static const char styles[] = {'P', 'S', 'D', 'L', 'F'};
      return std::string(1, styles[static_cast<int>(t.style)]) + "\"" + escape_text(t.text) + "\"";
    }
    case TokenKind::Anchor: return "&" + std::string(t.text);
    case TokenKind::Alias: return "*" + std::string(t.text);
    case TokenKind::Tag: return "T" + std::string(t.text);
    case TokenKind::Directive: return "%" + escape_text(t.text);
  }
  return "?";
}

// Tokens between StreamStart and StreamEnd, space separated.
inline std::string render_tokens(const TokenVector& tokens) {
  std::string out;
  for (size_t i = 1; i + 1 < tokens.size(); ++i) {
    if (!out.empty()) out += ' ';
    out += render_token(tokens[i]);
  }
  return out;
}

// Either the rendered tokens or "ERR line:col message" (1-based positions).
inline std::string scan_to_string(std::string_view text, bool keep_comments = false) {
  Scanner s(text);
  s.keep_comments = keep_comments;
  TokenizeResult r = tokenize(s);
  if (!r.ok())
    return "ERR " + std::to_string(r.error->span.line + 1) + ":" +
           std::to_string(r.error->span.column + 1) + " " + r.error->message;
  return render_tokens(r.tokens);
}

}  // namespace qf::test
