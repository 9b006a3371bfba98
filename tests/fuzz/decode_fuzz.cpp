// libFuzzer target for decode_documents. Inputs that are not valid UTF-8 are
// skipped (the loader's callers hand it validated text). The first byte picks
// the mode and the policy flags; the whole input is the text. Every input must
// load or fail with one positioned error, never crash, hang or leave a merge
// marker behind. Built like the scanner's target (see CMakeLists.txt here);
// with -DQF_FUZZ_STANDALONE it replays the files and folders it is given.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "decode/loader.hpp"
#include "decode/merge.hpp"
#include "scanner_fuzz_check.hpp"

namespace {

bool has_merge_marker(const qf::Value& root) {
  std::vector<const qf::Value*> stack{&root};
  while (!stack.empty()) {
    const qf::Value* v = stack.back();
    stack.pop_back();
    switch (v->kind()) {
      case qf::ValueKind::Tagged:
        if (qf::is_merge_marker(*v)) return true;
        stack.push_back(&v->inner());
        break;
      case qf::ValueKind::Sequence:
        for (const qf::Value& item : v->items()) stack.push_back(&item);
        break;
      case qf::ValueKind::Mapping:
        for (const qf::ValuePair& p : v->pairs()) {
          stack.push_back(&p.key);
          stack.push_back(&p.value);
        }
        break;
      default:
        break;
    }
  }
  return false;
}

bool load_and_check(std::string_view text, const qf::DecodeSettings& s) {
  qf::DecodedStream out = qf::decode_documents(text, s);
  if (!out.ok()) {
    QF_FUZZ_CHECK(out.documents.empty());
    QF_FUZZ_CHECK(out.warnings.empty());
    QF_FUZZ_CHECK(!out.error->message.empty());
    QF_FUZZ_CHECK(out.error->span.offset <= text.size());
    return false;
  }
  for (const qf::Value& doc : out.documents) QF_FUZZ_CHECK(!has_merge_marker(doc));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!qf::fuzz::is_valid_utf8(text)) return -1;
  const uint8_t pick = size ? data[0] : 0;
  qf::DecodeSettings s;
  s.mode = static_cast<qf::ResolverMode>(pick % 3);
  s.dup_error = pick & 0x04;
  s.reject_complex_keys = pick & 0x08;
  s.timestamps = pick & 0x10;
  s.dup_warn = pick & 0x20;
  s.yaml11_warn = pick & 0x40;
  const bool ok = load_and_check(text, s);
  // The policies only add failures: a text that loads with them loads
  // without them (the error pre-pass relies on this).
  if (ok) {
    qf::DecodeSettings plain;
    plain.mode = s.mode;
    QF_FUZZ_CHECK(load_and_check(text, plain));
  }
  return 0;
}

#ifdef QF_FUZZ_STANDALONE
#include "replay_main.hpp"
#endif
