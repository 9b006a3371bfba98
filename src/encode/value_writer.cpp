#include "encode/value_writer.hpp"

#include <algorithm>

#include "encode/key_order.hpp"
#include "encode/scalar_safety.hpp"
#include "encode/scalar_text.hpp"
#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

inline uint64_t step_of(const ValueWriter& w) { return w.settings.indent == 0 ? 1 : w.settings.indent; }

inline bool nonempty_block_sequence(const ValueWriter& w, const Value& v) {
  return v.kind() == ValueKind::Sequence && !v.items().empty() && !w.settings.flow_style;
}
inline bool nonempty_block_mapping(const ValueWriter& w, const Value& v) {
  return v.kind() == ValueKind::Mapping && !v.pairs().empty() && !w.settings.flow_style;
}
inline bool is_literal_string(const Value& v) {
  return v.kind() == ValueKind::String && fits_literal_block(v.as_string());
}

// Writes the key with in_key set, restoring it afterwards.
inline void write_key(ValueWriter& w, const Value& key, bool in_flow) {
  bool saved = w.in_key;
  w.in_key = true;
  write_flow_value(w, key, in_flow);
  w.in_key = saved;
}

// A tag as written: verbatim as stored when it starts with "!" (every tag
// the encoder makes does); a loaded tag expanded to a full URI gets the
// verbatim form "!<...>", which reads back as that same tag.
void append_tag(std::string& out, const std::string& tag) {
  if (!tag.empty() && tag[0] == '!') {
    out.append(tag);
  } else {
    out.append("!<");
    out.append(tag);
    out.push_back('>');
  }
}

void append_big_int(std::string& out, const Value& v) {
  if (v.big_int_radix() == 10) out.append(v.big_int_text());
  else out.append(big_int_to_decimal(v.big_int_text(), v.big_int_radix()));
}

// Number of spaces at the start of the current line.
uint64_t leading_spaces_of_current_line(ValueWriter& w) {
  size_t start = w.line_start();
  size_t i = start;
  while (i < w.out.size() && w.out[i] == ' ') ++i;
  return i - start;
}

// Calls fn(pair) in writing order; only a sorted order needs a list.
template <class Fn>
void for_each_entry(const ValueWriter& w, const PairList& pairs, Fn&& fn) {
  if (!w.settings.sort_keys || pairs.size() < 2) {
    for (const ValuePair& p : pairs) fn(p);
    return;
  }
  for (const ValuePair* p : mapping_entry_order(pairs, true)) fn(*p);
}

void write_flow_collection(ValueWriter& w, const Value& v) {
  bool is_seq = v.kind() == ValueKind::Sequence;
  w.out.push_back(is_seq ? '[' : '{');
  uint64_t c = leading_spaces_of_current_line(w) + step_of(w);
  if (is_seq) {
    bool first = true;
    for (const Value& item : v.items()) {
      if (!first) write_flow_separator(w, c);
      first = false;
      write_flow_value(w, item, true);
    }
    w.out.push_back(']');
  } else {
    bool first = true;
    for_each_entry(w, v.pairs(), [&](const ValuePair& p) {
      if (!first) write_flow_separator(w, c);
      first = false;
      write_key(w, p.key, true);
      w.out.append(": ");
      write_flow_value(w, p.value, true);
    });
    w.out.push_back('}');
  }
}

void write_flow_value_impl(ValueWriter& w, const Value& v, bool in_flow) {
  switch (v.kind()) {
    case ValueKind::Null:
      w.out.append(w.settings.null_style == NullStyle::Tilde ? "~" : "null");
      break;
    case ValueKind::Bool: w.out.append(v.as_bool() ? "true" : "false"); break;
    case ValueKind::Int: append_int64(w.out, v.as_int()); break;
    case ValueKind::BigInt: append_big_int(w.out, v); break;
    case ValueKind::Float: append_yaml_float(w.out, v.as_float()); break;
    case ValueKind::String: write_string_scalar(w, v.as_string(), in_flow); break;
    case ValueKind::Timestamp: {
      std::string text;
      append_timestamp_text(v.as_timestamp(), text);
      write_string_scalar(w, text, in_flow);
      break;
    }
    case ValueKind::Sequence:
    case ValueKind::Mapping:
      ensure_stack([&] { write_flow_collection(w, v); });
      break;
    case ValueKind::Tagged:
      append_tag(w.out, v.tag());
      w.out.push_back(' ');
      ensure_stack([&] { write_flow_value_impl(w, v.inner(), in_flow); });
      break;
  }
}

// The rest of a line that holds "-" at column a, ending the item.
void write_sequence_item(ValueWriter& w, const Value& item, uint64_t a) {
  if (item.kind() == ValueKind::Null && w.settings.null_style == NullStyle::Default) {
    w.out.push_back('\n');
  } else if (is_literal_string(item)) {
    w.out.push_back(' ');
    write_block_scalar_header(w.out, item.as_string(), '|');
    write_block_scalar_body(w.out, item.as_string(), a + 2);
  } else if (nonempty_block_sequence(w, item)) {
    w.out.push_back('\n');
    write_block_sequence(w, item.items(), a + 2);
  } else if (nonempty_block_mapping(w, item)) {
    w.out.push_back(' ');
    bool first = true;
    for_each_entry(w, item.pairs(), [&](const ValuePair& p) {
      if (!first) append_spaces(w.out, a + 2);
      write_block_mapping_pair(w, p.key, p.value, a + 2, !first);
      first = false;
    });
  } else if (item.kind() == ValueKind::Tagged) {
    w.out.push_back(' ');
    append_tag(w.out, item.tag());
    const Value& inner = item.inner();
    if (nonempty_block_sequence(w, inner)) {
      w.out.push_back('\n');
      write_block_sequence(w, inner.items(), a + 2);
    } else {
      write_block_value(w, inner, a);
    }
  } else {
    w.out.push_back(' ');
    write_flow_value(w, item, false);
    w.out.push_back('\n');
  }
}

}  // namespace

void write_flow_value(ValueWriter& w, const Value& v, bool in_flow) { write_flow_value_impl(w, v, in_flow); }

void write_flow_separator(ValueWriter& w, uint64_t c) {
  w.out.push_back(',');
  if (w.settings.width != 0 && !w.in_key && w.column() >= w.settings.width) {
    w.out.push_back('\n');
    append_spaces(w.out, c);
  } else {
    w.out.push_back(' ');
  }
}

void write_block_value(ValueWriter& w, const Value& v, uint64_t d) {
  ensure_stack([&] {
    if (v.kind() == ValueKind::Null && w.settings.null_style == NullStyle::Default) {
      w.out.push_back('\n');
    } else if (is_literal_string(v)) {
      w.out.push_back(' ');
      write_block_scalar_header(w.out, v.as_string(), '|');
      write_block_scalar_body(w.out, v.as_string(), d + step_of(w));
    } else if (nonempty_block_sequence(w, v)) {
      w.out.push_back('\n');
      write_block_sequence(w, v.items(), w.settings.indentless ? d : d + step_of(w));
    } else if (nonempty_block_mapping(w, v)) {
      w.out.push_back('\n');
      write_block_mapping(w, v.pairs(), d + step_of(w));
    } else if (v.kind() == ValueKind::Tagged) {
      w.out.push_back(' ');
      append_tag(w.out, v.tag());
      const Value& inner = v.inner();
      if (nonempty_block_sequence(w, inner)) {
        // Indented by the step even when indentless: the tag stands alone
        // on the key's line.
        w.out.push_back('\n');
        write_block_sequence(w, inner.items(), d + step_of(w));
      } else {
        write_block_value(w, inner, d);
      }
    } else {
      w.out.push_back(' ');
      write_flow_value(w, v, false);
      w.out.push_back('\n');
    }
  });
}

void write_block_sequence(ValueWriter& w, const ValueList& items, uint64_t a) {
  ensure_stack([&] {
    for (const Value& item : items) {
      append_spaces(w.out, a);
      w.out.push_back('-');
      write_sequence_item(w, item, a);
    }
  });
}

void write_block_mapping(ValueWriter& w, const PairList& pairs, uint64_t n) {
  ensure_stack([&] {
    bool first = true;
    for_each_entry(w, pairs, [&](const ValuePair& p) {
      append_spaces(w.out, n);
      write_block_mapping_pair(w, p.key, p.value, n, !first);
      first = false;
    });
  });
}

void write_block_mapping_pair(ValueWriter& w, const Value& key, const Value& value, uint64_t n,
                              bool not_first) {
  if (not_first && key.kind() == ValueKind::Tagged) {
    w.out.append("? ");
    write_key(w, key, false);
    w.out.push_back('\n');
    append_spaces(w.out, n);
  } else {
    write_key(w, key, false);
  }
  w.out.push_back(':');
  write_block_value(w, value, n);
}

void write_string_scalar(ValueWriter& w, std::string_view text, bool in_flow) {
  if (text.empty()) {
    w.out.append(w.settings.prefer_double_quotes ? "\"\"" : "''");
    return;
  }
  if (needs_quotes(text, w.settings.resolver_mode)) {
    write_quoted_string(w, text);
    return;
  }
  if (in_flow && text.find_first_of("[]{},") != std::string_view::npos) {
    write_quoted_string(w, text);
    return;
  }
  if (w.settings.width != 0 && !w.in_key &&
      w.column() + text.size() > w.settings.width && text.size() > 1 &&
      has_single_inner_space(text)) {
    write_quoted_string(w, text);
    return;
  }
  w.out.append(text);
}

void write_quoted_string(ValueWriter& w, std::string_view text) {
  bool single = !w.settings.prefer_double_quotes && text.find('\'') == std::string_view::npos &&
                is_single_line_printable(text);
  if (w.settings.width == 0 || w.in_key) {
    if (single) write_single_quoted(w.out, text);
    else write_double_quoted(w.out, text);
    return;
  }
  uint64_t col = w.column();
  uint64_t q = col == 0 ? 1 : col;
  std::string body;
  body.reserve(text.size() + 8);
  if (single) append_single_quoted_body(body, text);
  else append_escaped_double_quoted(body, text);
  char quote = single ? '\'' : '"';
  w.out.push_back(quote);
  write_wrapped_text(w.out, body, q, w.settings.width, col + 1);
  w.out.push_back(quote);
}

void write_yaml_document(ValueWriter& w, const Value& root) {
  const EmitSettings& s = w.settings;
  if (s.explicit_start) w.out.append("---\n");
  ensure_stack([&] {
    if (is_literal_string(root)) {
      write_block_scalar_header(w.out, root.as_string(), '|');
      write_block_scalar_body(w.out, root.as_string(), s.indent == 0 ? 1 : s.indent);
    } else if (nonempty_block_sequence(w, root)) {
      write_block_sequence(w, root.items(), 0);
    } else if (nonempty_block_mapping(w, root)) {
      write_block_mapping(w, root.pairs(), 0);
    } else if (root.kind() == ValueKind::Tagged) {
      append_tag(w.out, root.tag());
      write_block_value(w, root.inner(), 0);
    } else {
      write_flow_value(w, root, false);
      w.out.push_back('\n');
    }
  });
  if (s.explicit_end) w.out.append("...\n");
}

std::string dump_value_to_yaml(const Value& root, const EmitSettings& settings) {
  ValueWriter w(settings);
  write_yaml_document(w, root);
  return std::move(w.out);
}

}  // namespace qf
