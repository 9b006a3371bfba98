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

// Every included-file root of every document, in pre-order (an including
// file's root before the roots of what it includes).
std::vector<const YamlNode*> included_roots(const RoundTripDocument& doc) {
  std::vector<const YamlNode*> out;
  if (!has_directive_records(doc)) return out;
  for (const YamlNode& root : doc.docs)
    walk_tree(root, [&](const YamlNode& n) {
      if (is_included_root(n)) out.push_back(&n);
    });
  return out;
}

// The new text of the file behind an included root: its loaded text while
// its content is unchanged, else the content written anew.
std::string included_file_text(const RoundTripDocument& doc, const YamlNode& root, bool changed) {
  const uint32_t id = *root.source()->target_file_id;
  const std::optional<std::string>* loaded = id < doc.texts.size() ? &doc.texts[id] : nullptr;
  if (!changed && loaded && *loaded) return **loaded;
  std::string first = emit_included_root(root);
  // A file without a document is stood for by an empty mapping at the
  // directive's position, in the including file.
  const bool held_document = root.span.file_id == id;
  if (loaded && *loaded) return splice_first_document(first, **loaded, std::nullopt, held_document);
  return first;
}

// Adds one included file's text, keeping one write per path: equal texts
// are one write, different ones a conflict.
std::optional<WriteBackError> add_file(std::vector<PlannedWrite>& plan, const RoundTripDocument& doc, uint32_t id,
                                       std::string text) {
  std::string_view path = file_path(doc, id);
  for (const PlannedWrite& w : plan) {
    if (w.path != path) continue;
    if (w.bytes() == text) return std::nullopt;
    return conflict_error(path);
  }
  plan.push_back(PlannedWrite{id, std::string(path), std::move(text), std::nullopt});
  return std::nullopt;
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
  // Who owns the content being walked: a file, or nothing below the first
  // record that is not an `!include` (reported with the file holding it).
  struct Owner {
    uint32_t file = 0;
    const IncludeSource* blocker = nullptr;
  };
  struct Frame {
    const YamlNode* node;
    Owner owner;
  };
  if (!has_directive_records(doc)) return std::nullopt;
  std::vector<Frame> stack;
  for (size_t i = doc.docs.size(); i-- > 0;) stack.push_back({&doc.docs[i], Owner{}});
  while (!stack.empty()) {
    auto [node, owner] = stack.back();
    stack.pop_back();
    if (node->source() && !owner.blocker) {
      if (node->source()->target_file_id) owner.file = *node->source()->target_file_id;
      else owner.blocker = &*node->source();
    }
    if (owner.blocker && node->comments().modified) {
      std::string message = "cannot write back an edit inside '";
      message.append(owner.blocker->tag).append(" ").append(owner.blocker->target);
      message.append("': only the main text and files read by !include are written");
      return WriteBackError{WriteBackError::Kind::Unwritable, std::move(message),
                            std::string(file_path(doc, owner.file))};
    }
    for (size_t i = node->pairs.size(); i-- > 0;) {
      stack.push_back({&node->pairs[i].value, owner});
      stack.push_back({&node->pairs[i].key, owner});
    }
    for (size_t i = node->items.size(); i-- > 0;) stack.push_back({&node->items[i], owner});
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
    if (doc.source && !doc.declare_yaml_1_2) plan.push_back(PlannedWrite{0, target, {}, *doc.source});
    else plan.push_back(PlannedWrite{0, target, render_document(doc), std::nullopt});
    return plan;
  }
  if (auto refusal = find_unwritable_edit(doc)) return std::move(*refusal);
  for (const YamlNode* root : included_roots(doc)) {
    const uint32_t id = *root->source()->target_file_id;
    if (id >= doc.files.size() || !included_root_changed(*root)) continue;
    if (auto conflict = add_file(plan, doc, id, included_file_text(doc, *root, true))) return std::move(*conflict);
  }
  const std::optional<std::string>& target = path ? path : doc.origin;
  if (path || main_text_changed(doc)) {
    if (!target) return needs_path();
    plan.push_back(PlannedWrite{0, *target, render_document(doc), std::nullopt});
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
  for (const YamlNode* root : included_roots(doc)) {
    const uint32_t id = *root->source()->target_file_id;
    if (id >= doc.files.size()) continue;
    if (auto conflict = add_file(plan, doc, id, included_file_text(doc, *root, included_root_changed(*root))))
      return std::move(*conflict);
  }
  sort_by_file_id(plan);
  return plan;
}

}  // namespace qf
