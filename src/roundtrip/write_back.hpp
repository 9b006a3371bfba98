// Writing an edited document back to its files: which files changed, what
// each file's new text is, and whether the edits can be written at all.
//
// A node with a directive record (`source`) stands for content of another
// file (`!include`, with a file id) or of no file at all (a secret, an
// environment value, the listing of a directory). The change tests stop at
// every record, so each file is rewritten for its own edits only; an edit
// that belongs to no file is refused before anything is written.
//
// The change tests are in roundtrip/changes.hpp. The result is a plan (paths and bytes) or a refusal; the file work is the
// caller's (support/atomic_file.hpp).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "roundtrip/ast.hpp"
#include "roundtrip/changes.hpp"
#include "roundtrip/document.hpp"

namespace qf {

// The main text must be written again: a root-level edit, or a whole
// document deleted (which drops the kept text).
bool main_text_changed(const RoundTripDocument& doc);

// The new text of an included file whose first document is now `first`:
// with `rest_offset` (where the loaded text's second document starts) the
// loaded documents from there follow unchanged; a file that held no
// document keeps its loaded text (comments), then the new content.
std::string splice_first_document(std::string_view first, std::string_view loaded,
                                  std::optional<uint64_t> rest_offset, bool held_document);

struct PlannedWrite {
  uint32_t file_id = 0;  // 0: the main text
  std::string path;
  std::string text;
  // An included file: the file that was read, the only one to replace.
  std::optional<FileIdentity> loaded;
  // Set when the bytes are the document's kept text, which is not copied.
  std::optional<std::string_view> kept;
  // save(): a file included at several places with the same edit is written
  // once and listed once per place.
  uint32_t listed = 1;
  std::string_view bytes() const noexcept { return kept ? *kept : std::string_view(text); }
};

struct WriteBackError {
  enum class Kind : uint8_t {
    NeedsPath,   // ValueError
    NoIncludes,  // ValueError
    Unwritable,  // QuillfernIncludeError: an edit that belongs to no file
    Conflict,    // QuillfernIncludeError: two versions of one file
  };
  Kind kind;
  std::string message;
  std::string file;  // the file the include errors are about
};

using WritePlan = std::variant<std::vector<PlannedWrite>, WriteBackError>;

// The first edit that belongs to no file, as its refusal.
std::optional<WriteBackError> find_unwritable_edit(const RoundTripDocument& doc);

// "'{path}' is included more than once with conflicting edits; ..."
WriteBackError conflict_error(std::string_view path);

// save(): every included file whose own content changed, then the main text
// (to `path` when given, else to `origin` when it changed), in file-id order
// with the main text first. Refusals come before any text is returned.
// `unmarked`: the caller knows that no node carries an edit mark, which
// spares the searches of the tree.
WritePlan plan_save(const RoundTripDocument& doc, const std::optional<std::string>& path, bool unmarked = false);

// dump_includes() and dump_includes_map(): every included file, its loaded
// text where its content is unchanged.
WritePlan plan_include_files(const RoundTripDocument& doc);

}  // namespace qf
