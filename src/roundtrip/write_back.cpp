#include "roundtrip/write_back.hpp"

#include <algorithm>
#include <utility>

#include "roundtrip/emit.hpp"
#include "roundtrip/walk.hpp"

namespace qf {

namespace {

// Directive records come only from a load with a directive option, which
// also fills the file table: without one, no tree needs searching for them.
bool has_directive_records(const RoundTripDocument& doc) { return !doc.files.empty(); }

std::string_view file_path(const RoundTripDocument& doc, uint32_t id) {
  return id < doc.files.size() ? std::string_view(doc.files[id]) : std::string_view();
}

// One `!include` record of a node's chain. The innermost record's file owns
// the node's content; the files before it hold the next directive as their
// root.
struct IncludedFile {
  const YamlNode* node;
  const IncludeSource* record;
  bool owns_content;
};

// Every included file of every document, in pre-order (an including file
// before what it includes, a chain from the outside in).
std::vector<IncludedFile> included_files(const RoundTripDocument& doc) {
  std::vector<IncludedFile> out;
  if (!has_directive_records(doc)) return out;
  for (const YamlNode& root : doc.docs)
    walk_tree(root, [&](const YamlNode& n) {
      if (!n.source()) return;
      for (const IncludeSource* s = &*n.source(); s->target_file_id; s = &s->inner.front()) {
        out.push_back(IncludedFile{&n, s, s->inner.empty()});
        if (s->inner.empty()) break;
      }
    });
  return out;
}

const std::optional<std::string>* loaded_text(const RoundTripDocument& doc, uint32_t id) {
  return id < doc.texts.size() && doc.texts[id] ? &doc.texts[id] : nullptr;
}

// The new text of the file behind an included root: its loaded text while
// its content is unchanged, else the content written anew.
std::string included_file_text(const RoundTripDocument& doc, const YamlNode& root, uint32_t id, bool changed) {
  const std::optional<std::string>* loaded = loaded_text(doc, id);
  if (!changed && loaded) return **loaded;
  std::string first = emit_included_root(root);
  // A file without a document is stood for by an empty mapping at the
  // directive's position, in the including file.
  const bool held_document = root.span.file_id == id;
  const std::optional<uint64_t> rest =
      id < doc.second_document_offsets.size() ? doc.second_document_offsets[id] : std::nullopt;
  if (loaded) return splice_first_document(first, **loaded, rest, held_document);
  return first;
}

// A file of a chain whose root is the next directive: that directive as it
// was written there, never the content it stands for.
std::string chained_file_text(const RoundTripDocument& doc, const IncludeSource& record) {
  if (const std::optional<std::string>* loaded = loaded_text(doc, *record.target_file_id)) return **loaded;
  YamlNode directive;
  if (record.included_root) put_own_fields(directive, *record.included_root);
  directive.set_source(record.inner.front());
  return emit_root(directive, NullStyle::Keyword);
}

// Adds one included file's text, keeping one write per path: equal texts
// are one write (listed again when `list_each`), different ones a conflict.
std::optional<WriteBackError> add_file(std::vector<PlannedWrite>& plan, const RoundTripDocument& doc, uint32_t id,
                                       std::string text, bool list_each) {
  std::string_view path = file_path(doc, id);
  for (PlannedWrite& w : plan) {
    if (w.path != path) continue;
    if (w.bytes() != text) return conflict_error(path);
    if (list_each) ++w.listed;
    return std::nullopt;
  }
  plan.push_back(PlannedWrite{id, std::string(path), std::move(text), doc.file_identities.get(id), std::nullopt});
  return std::nullopt;
}

// Lines holding only blanks at the end of a text.
size_t trailing_blank_lines(std::string_view text) {
  size_t n = 0;
  size_t end = text.size();  // just past the line break of the line looked at
  while (end >= 2 && text[end - 1] == '\n') {
    const size_t brk = text.rfind('\n', end - 2);
    if (brk == std::string_view::npos) break;
    if (text.substr(brk + 1, end - brk - 1).find_first_not_of(" \t\r\n") != std::string_view::npos) break;
    ++n;
    end = brk + 1;
  }
  return n;
}

WriteBackError needs_path() {
  return WriteBackError{WriteBackError::Kind::NeedsPath, "save() needs a path: this document was not loaded from a file",
                        {}};
}

void sort_by_file_id(std::vector<PlannedWrite>& plan) {
  std::stable_sort(plan.begin(), plan.end(),
                   [](const PlannedWrite& a, const PlannedWrite& b) { return a.file_id < b.file_id; });
}

}  // namespace

bool main_text_changed(const RoundTripDocument& doc) { return !doc.source || roots_have_local_change(doc.docs); }

std::string splice_first_document(std::string_view first, std::string_view loaded,
                                  std::optional<uint64_t> rest_offset, bool held_document) {
  std::string out;
  if (!held_document) {
    out.reserve(loaded.size() + first.size() + 1);
    out.append(loaded);
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
    out.append(first);
    return out;
  }
  out.assign(first);
  if (rest_offset && *rest_offset < loaded.size()) {
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
    // Blank lines that ended the first document are layout no tree holds.
    for (size_t n = trailing_blank_lines(loaded.substr(0, *rest_offset)), have = trailing_blank_lines(out);
         have < n; ++have)
      out.push_back('\n');
    out.append(loaded.substr(*rest_offset));
  }
  return out;
}

WriteBackError conflict_error(std::string_view path) {
  std::string message = "'";
  message.append(path);
  message.append("' is included more than once with conflicting edits; write-back cannot store two different "
                 "versions of one file");
  return WriteBackError{WriteBackError::Kind::Conflict, std::move(message), std::string(path)};
}

std::optional<WriteBackError> find_unwritable_edit(const RoundTripDocument& doc) {
  // Who owns what is being walked: a file, or nothing below the last record
  // that reads no file (reported with the file holding that record). An
  // `!include` met below such a record gives ownership to its file again.
  struct Owner {
    uint32_t file = 0;
    const IncludeSource* blocker = nullptr;
  };
  struct Frame {
    const YamlNode* node;
    Owner owner;
  };
  auto refusal = [&doc](const Owner& owner) {
    std::string message = "cannot write back an edit inside '";
    message.append(owner.blocker->tag).append(" ").append(owner.blocker->target);
    message.append("': only the main text and files read by !include are written");
    return WriteBackError{WriteBackError::Kind::Unwritable, std::move(message),
                          std::string(file_path(doc, owner.file))};
  };
  if (!has_directive_records(doc)) return std::nullopt;
  std::vector<Frame> stack;
  for (size_t i = doc.docs.size(); i-- > 0;) stack.push_back({&doc.docs[i], Owner{}});
  while (!stack.empty()) {
    auto [node, owner] = stack.back();
    stack.pop_back();
    Owner content = owner;
    if (const std::optional<IncludeSource>& source = node->source()) {
      // Down a chain, each `!include` moves ownership to its file, until a
      // record that reads no file (held by the file before it).
      for (const IncludeSource* s = &*source;; s = &s->inner.front()) {
        if (!s->target_file_id) {
          content.blocker = s;
          break;
        }
        content.file = *s->target_file_id;
        content.blocker = nullptr;
        if (s->inner.empty()) break;
      }
      // The node's anchor, comments and markers are the directive's, in the
      // file that holds it; its own items and pairs are the content's.
      const bool fields = directive_fields_edited(*node);
      if (owner.blocker && fields) return refusal(owner);
      if (content.blocker && node->comments().modified && (source->content_edited || !fields))
        return refusal(content);
    } else if (owner.blocker && node->comments().modified) {
      return refusal(owner);
    }
    for (size_t i = node->pairs.size(); i-- > 0;) {
      stack.push_back({&node->pairs[i].value, content});
      stack.push_back({&node->pairs[i].key, content});
    }
    for (size_t i = node->items.size(); i-- > 0;) stack.push_back({&node->items[i], content});
  }
  return std::nullopt;
}

WritePlan plan_save(const RoundTripDocument& doc, const std::optional<std::string>& path, bool unmarked) {
  if (!unmarked) {
    unmarked = true;
    for (const YamlNode& root : doc.docs) unmarked = unmarked && !subtree_is_modified(root);
  }
  std::vector<PlannedWrite> plan;
  if (unmarked) {
    // No edit anywhere: no included file changed, and the main text is the
    // kept one unless a whole document was deleted.
    if (!path && doc.source) return plan;
    if (!path && !doc.origin) return needs_path();
    const std::string& target = path ? *path : *doc.origin;
    if (doc.source && !doc.declare_yaml_1_2) plan.push_back(PlannedWrite{0, target, {}, std::nullopt, *doc.source});
    else plan.push_back(PlannedWrite{0, target, render_document(doc), std::nullopt, std::nullopt});
    return plan;
  }
  if (auto refusal = find_unwritable_edit(doc)) return std::move(*refusal);
  for (const IncludedFile& f : included_files(doc)) {
    const uint32_t id = *f.record->target_file_id;
    if (!f.owns_content || id >= doc.files.size() || !included_root_changed(*f.node)) continue;
    if (auto conflict = add_file(plan, doc, id, included_file_text(doc, *f.node, id, true), true))
      return std::move(*conflict);
  }
  const std::optional<std::string>& target = path ? path : doc.origin;
  if (path || main_text_changed(doc)) {
    if (!target) return needs_path();
    plan.push_back(PlannedWrite{0, *target, render_document(doc), std::nullopt, std::nullopt});
  }
  sort_by_file_id(plan);
  return plan;
}

WritePlan plan_include_files(const RoundTripDocument& doc) {
  if (doc.files.empty())
    return WriteBackError{WriteBackError::Kind::NoIncludes,
                          "document was not loaded with OPT_INCLUDES; nothing to write back", {}};
  if (auto refusal = find_unwritable_edit(doc)) return std::move(*refusal);
  std::vector<PlannedWrite> plan;
  for (const IncludedFile& f : included_files(doc)) {
    const uint32_t id = *f.record->target_file_id;
    if (id >= doc.files.size()) continue;
    std::string text = f.owns_content ? included_file_text(doc, *f.node, id, included_root_changed(*f.node))
                                      : chained_file_text(doc, *f.record);
    if (auto conflict = add_file(plan, doc, id, std::move(text), false)) return std::move(*conflict);
  }
  sort_by_file_id(plan);
  return plan;
}

}  // namespace qf
