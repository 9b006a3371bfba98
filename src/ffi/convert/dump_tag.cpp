#include "ffi/convert/dump_tag.hpp"

#include "encode/dump_tag.hpp"
#include "ffi/errors.hpp"

namespace qf::py {

// The checks and message texts live in the core (encode/dump_tag), shared
// with the other writers; this unit only raises them.

std::string quote_tag_for_message(std::string_view tag) {
  std::string out;
  append_quoted_for_message(out, tag);
  return out;
}

std::optional<std::string> dump_tag_problem(std::string_view tag) { return qf::validate_dump_tag(tag); }

void validate_dump_tag(std::string_view tag) {
  if (auto problem = qf::validate_dump_tag(tag)) throw Error::lazy(ExcClass::EncodeError, std::move(*problem));
}

void throw_already_tagged() { throw Error::lazy(ExcClass::EncodeError, std::string(kAlreadyTaggedError)); }

void throw_serializer_result_error() {
  throw Error::lazy(ExcClass::EncodeError, std::string(kSerializerResultError));
}

Value attach_dump_tag(std::string tag, Value inner) {
  if (inner.kind() == ValueKind::Tagged) {
    drop_value_tree(std::move(inner));
    throw_already_tagged();
  }
  return Value::tagged(std::move(tag), std::move(inner));
}

}  // namespace qf::py
