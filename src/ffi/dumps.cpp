// dumps and to_json: host objects to YAML or JSON bytes. The conversion runs
// with the interpreter lock held; writing the text and freeing the tree run
// with it released.
#include <cstdint>
#include <string>
#include <utility>

#include "decode/value.hpp"
#include "encode/json_writer.hpp"
#include "encode/settings.hpp"
#include "encode/value_writer.hpp"
#include "ffi/args.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/convert/represent.hpp"
#include "ffi/dumps_roundtrip.hpp"
#include "ffi/entry_points.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/gil.hpp"
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"
#include "roundtrip/emit.hpp"

namespace qf::py {

namespace {

PyObject* bytes_from(const std::string& text) {
  return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The node tree of `obj` through the represent callback, with its final
// anchor names. The state, with every reference it holds, is gone when this
// returns. A RecursionError (raised by a callback, say) is reported as the
// nesting error it stands for, with the original as its cause.
YamlNode represent_tree(PyObject* obj, PyObject* represent, const EncodeContext& ctx, const EmitSettings& settings,
                        TextArena& texts) {
  RepresentState state;
  state.texts = &texts;
  // Room for a small document: the stacks grow from there.
  state.held.reserve(32);
  state.entries.reserve(64);
  // Objects the callback leaves to the plain conversion are written in full
  // wherever they recur: one budget covers all of them.
  SharedObjects shared;
  state.encode = ctx;
  state.encode.shared = &shared;
  state.represent = represent;
  state.sort_keys = settings.sort_keys;
  state.flow_style = settings.flow_style;
  state.prefer_double_quotes = settings.prefer_double_quotes;
  state.resolver_mode = settings.resolver_mode;
  set_stack_floor(state);
  try {
    YamlNode root = represent_object(state, obj, 0, false, false);
    assign_shared_anchors(root, state.aliased);
    return root;
  } catch (Error& e) {
    std::move(e).raise();
  } catch (ErrorAlreadySet&) {
  }
  if (!PyErr_ExceptionMatches(PyExc_RecursionError)) throw ErrorAlreadySet{};
  PyRef cause = PyRef::steal(take_raised_exception());
  PyRef exc = new_exception(ExcClass::UnserializableError,
                            "object is too deeply nested to serialize (possible self-reference)");
  PyException_SetCause(exc.get(), Py_NewRef(cause.get()));
  PyException_SetContext(exc.get(), cause.release());
  restore_raised_exception(exc.release());
  throw ErrorAlreadySet{};
}

// The tree's texts view `texts`, freed after the tree.
std::string emit_represented(YamlNode root, TextArena texts, const EmitSettings& settings) {
  RoundTripEmitter e;
  e.indent_step = settings.indent;
  e.width = settings.width;
  e.dumps_layout = true;
  e.checked_scalars = true;
  e.explicit_end = settings.explicit_end;
  e.indentless = settings.indentless;
  e.single_quotes = !settings.prefer_double_quotes;
  e.null_style = settings.null_style;
  if (root.leading_bom) e.out.append("\xEF\xBB\xBF");
  emit_document(e, root);
  if (settings.explicit_end) e.out.append("...\n");
  close_output(e);
  drop_node_tree(std::move(root));
  return std::move(e.out);
}

}  // namespace

PyObject* dumps_entry(const CallArgs& args) {
  using namespace dumps_param;
  PyObject* default_fn = is_absent(args[default_]) ? nullptr : args[default_];
  uint64_t option = 0;
  if (!arg_option(args[dumps_param::option], option)) return nullptr;
  PyObject* serializers = nullptr;
  if (!is_absent(args[dumps_param::serializers])) {
    serializers = args[dumps_param::serializers];
    if (!PyDict_Check(serializers)) {
      PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", Py_TYPE(serializers)->tp_name, "dict");
      add_processing_note("serializers");
      return nullptr;
    }
  }
  uint64_t width = 0;
  if (!is_absent(args[dumps_param::width]) && !arg_u64(args[dumps_param::width], "width", width)) return nullptr;
  bool has_represent = !is_absent(args[represent]);

  PyObject* obj = args[dumps_param::obj];
  PyRef plain_view, rendered;
  if (!dumps_round_trip_object(obj, plain_view, rendered)) return nullptr;
  if (rendered) return rendered.release();

  NullStyleChoice nulls = null_style_from_options(option);
  if (nulls.conflict) {
    PyErr_SetString(PyExc_ValueError, "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive");
    return nullptr;
  }
  // The callables and the table are borrowed from the call's arguments,
  // which the caller keeps alive until we return.
  EncodeContext ctx = encode_context_from_options(option, default_fn, serializers);
  const EmitSettings settings = emit_settings_from_options(option, width);
  if (has_represent) {
    TextArena texts;
    YamlNode root = represent_tree(obj, args[represent], ctx, settings, texts);
    root.explicit_start = settings.explicit_start;
    std::string text = without_gil([&] { return emit_represented(std::move(root), std::move(texts), settings); });
    return bytes_from(text);
  }

  Value root = python_to_value(obj, ctx);
  std::string text = without_gil([&] {
    ValueWriter w(settings, 1024);
    write_yaml_document(w, root);
    drop_value_tree(std::move(root));
    return std::move(w.out);
  });
  return bytes_from(text);
}

PyObject* to_json_entry(const CallArgs& args) {
  using namespace to_json_param;
  PyObject* default_fn = is_absent(args[default_]) ? nullptr : args[default_];
  uint64_t option = 0;
  if (!arg_option(args[to_json_param::option], option)) return nullptr;

  PyObject* target = args[obj];
  PyRef plain_value, rendered;
  if (!to_json_round_trip_object(target, plain_value, rendered)) return nullptr;
  if (rendered) return rendered.release();

  EncodeContext ctx = encode_context_from_options(option, default_fn, nullptr);
  Value root = python_to_value(target, ctx);
  const JsonSettings settings = json_settings_from_options(option);
  std::string text;
  std::optional<JsonWriteError> failure = without_gil([&] {
    auto r = write_json_value(text, root, settings, 0);
    drop_value_tree(std::move(root));
    return r;
  });
  if (failure) throw Error::lazy(ExcClass::EncodeError, std::move(failure->message));
  return bytes_from(text);
}

}  // namespace qf::py
