#include "ffi/save.hpp"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/borrow.hpp"
#include "ffi/entry_points.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/gil.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/document.hpp"
#include "roundtrip/emit.hpp"
#include "roundtrip/write_back.hpp"
#include "support/atomic_file.hpp"

namespace qf::py {

namespace {

const char* const kSaveParams[] = {"path"};
const ArgSpec kSaveSpec{"QuillfernDocument.save()", kSaveParams, 1, 0, 0, 0};

// A path as text: bytes that are not UTF-8 show as replacement characters.
PyRef path_text(std::string_view path) {
  return PyRef::steal(PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace"));
}

// The os module's refusal of a path holding NUL; noted with the argument's
// name when the path came from one.
bool check_no_nul(std::string_view path, const char* arg_name) {
  if (path.find('\0') == std::string_view::npos) return true;
  PyErr_SetString(PyExc_ValueError, "embedded null byte");
  if (arg_name) add_processing_note(arg_name);
  return false;
}

PyObject* raise_include_error(std::string_view message, std::string_view file) {
  return raise(directive_error_to_exception(
      DirectiveErrorView{DirectiveErrorKind::Include, message, std::nullopt, file, {}}));
}

PyObject* raise_write_back_error(const WriteBackError& e) {
  switch (e.kind) {
    case WriteBackError::Kind::NeedsPath:
    case WriteBackError::Kind::NoIncludes:
      PyErr_SetString(PyExc_ValueError, e.message.c_str());
      return nullptr;
    case WriteBackError::Kind::Unwritable:
    case WriteBackError::Kind::Conflict:
      break;
  }
  return raise_include_error(e.message, e.file);
}

// Moves the planned writes out of `plan`; false with the refusal raised.
bool take_writes(WritePlan& plan, std::vector<PlannedWrite>& out) {
  if (const auto* e = std::get_if<WriteBackError>(&plan)) {
    raise_write_back_error(*e);
    return false;
  }
  out = std::move(std::get<std::vector<PlannedWrite>>(plan));
  return true;
}

// Writes the plan as one unit with the lock released and without the
// document's borrow, so that other threads can edit meanwhile (the plan owns
// what it writes); `written` receives the indexes written. A failure raises
// `exc_type` "cannot write {path}: {why}", or the conflict error when two
// writes reach one file. Included files that were replaced are recorded as
// the document's files from then on, whatever happens to the document
// meanwhile: the next write-back must find the files this one wrote.
bool write_plan(FileIdentities& ids, const std::vector<PlannedWrite>& plan, PyObject* exc_type,
                std::vector<size_t>& written) {
  std::vector<FileWrite> writes;
  writes.reserve(plan.size());
  for (const PlannedWrite& w : plan) writes.push_back(FileWrite{w.path, w.bytes(), w.loaded});
  std::optional<BatchFailure> failure = without_gil([&] {
    std::lock_guard<std::mutex> hold(ids.write_lock());
    // Another write-back of this document may have replaced a file since
    // the plan was made: the file to replace is the one it recorded.
    for (size_t i = 0; i < writes.size(); ++i)
      if (writes[i].loaded) writes[i].loaded = ids.get(plan[i].file_id);
    std::vector<FileIdentity> now;
    std::optional<BatchFailure> f = replace_files(writes, written, &now);
    for (size_t k = 0; k < written.size(); ++k)
      if (const std::optional<FileIdentity>& was = writes[written[k]].loaded) ids.replace(*was, now[k]);
    return f;
  });
  if (!failure) return true;
  const std::string& path = plan[failure->index].path;
  if (failure->error.kind == FileError::Kind::SameFile) {
    raise(directive_error_to_exception(DirectiveErrorView{
        DirectiveErrorKind::Include, conflict_error(path).message, std::nullopt, path, {}}));
    return false;
  }
  PyRef text = path_text(path);
  if (text) PyErr_Format(exc_type, "cannot write %U: %s", text.get(), failure->error.text.c_str());
  return false;
}

// Whether no node of the document carries an edit mark: found by a search
// of the trees and remembered until the next exclusive borrow ends. The
// caller holds the shared borrow.
bool known_unmarked(PyObject* self, const RoundTripDocument& doc) {
  DocumentObject* d = reinterpret_cast<DocumentObject*>(self);
  const uint64_t stamp = d->borrow.exclusive_releases() + 1;
  if (d->unmarked_at.load(std::memory_order_relaxed) == stamp) return true;
  for (const YamlNode& root : doc.docs)
    if (subtree_is_modified(root)) return false;
  d->unmarked_at.store(stamp, std::memory_order_relaxed);
  return true;
}

// The `doc` argument of the module functions, with its shared borrow.
std::optional<SharedBorrow> borrow_doc_arg(PyObject* doc) {
  if (!is_document_object(doc)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'QuillfernDocument'", Py_TYPE(doc)->tp_name);
    add_processing_note("doc");
    return std::nullopt;
  }
  SharedBorrow b(document_borrow(doc));
  if (!b) {
    add_processing_note("doc");
    return std::nullopt;
  }
  return b;
}

}  // namespace

PyObject* document_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kSaveSpec, args, nargs, kwnames, a)) return nullptr;
    RoundTripDocument& doc = document_content(self);
    std::vector<PlannedWrite> writes;
    SourceText kept;  // the bytes an unchanged main text is written from
    {
      SharedBorrow borrow(document_borrow(self));
      if (!borrow) return nullptr;
      std::optional<std::string> path;
      if (!is_absent(a[0])) {
        std::string p;
        if (!arg_str(a[0], "path", p) || !check_no_nul(p, "path")) return nullptr;
        path = std::move(p);
      }
      WritePlan plan = plan_save(doc, path, known_unmarked(self, doc));
      if (!take_writes(plan, writes)) return nullptr;
      kept = doc.source;
    }
    for (const PlannedWrite& w : writes)
      if (!check_no_nul(w.path, nullptr)) return nullptr;  // an origin set with NUL in it
    std::vector<size_t> written;
    if (!write_plan(doc.file_identities, writes, PyExc_OSError, written)) return nullptr;
    PyRef list = PyRef::steal(PyList_New(0));
    if (!list) return nullptr;
    for (size_t i : written) {
      PyRef text = path_text(writes[i].path);
      if (!text) return nullptr;
      for (uint32_t n = 0; n < writes[i].listed; ++n)
        if (PyList_Append(list.get(), text.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* dump_includes_entry(const CallArgs& args) {
  std::optional<SharedBorrow> borrow = borrow_doc_arg(args[dump_includes_param::doc]);
  if (!borrow) return nullptr;
  // Accepted as any path argument is, and not needed: the file table holds
  // every included file's path.
  std::optional<std::string> include_dir;
  if (!arg_path(args[dump_includes_param::include_dir], "include_dir", include_dir)) return nullptr;
  RoundTripDocument& doc = document_content(args[dump_includes_param::doc]);
  WritePlan plan = plan_include_files(doc);
  std::vector<PlannedWrite> writes;
  if (!take_writes(plan, writes)) return nullptr;
  borrow.reset();  // the plan owns its texts: edits may go on while it is written
  std::vector<size_t> written;
  if (!write_plan(doc.file_identities, writes, PyExc_ValueError, written)) return nullptr;
  Py_RETURN_NONE;
}

PyObject* dump_includes_map_entry(const CallArgs& args) {
  std::optional<SharedBorrow> borrow = borrow_doc_arg(args[0]);
  if (!borrow) return nullptr;
  WritePlan plan = plan_include_files(document_content(args[0]));
  std::vector<PlannedWrite> writes;
  if (!take_writes(plan, writes)) return nullptr;
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  for (const PlannedWrite& w : writes) {
    PyRef key = path_text(w.path);
    PyRef value = PyRef::steal(PyBytes_FromStringAndSize(w.bytes().data(), static_cast<Py_ssize_t>(w.bytes().size())));
    if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

}  // namespace qf::py
