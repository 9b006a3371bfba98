// libFuzzer target for the scanner. Inputs that are not valid UTF-8 are
// skipped (the scanner's callers hand it validated text); every other input
// must scan or fail with a positioned error, never crash, hang or read out
// of bounds. Built with -DQUILLFERN_FUZZ=ON (cmake/fuzz.cmake) or alone
// through CMakeLists.txt in this folder.
//
// Built with -DQF_FUZZ_STANDALONE it is a plain program instead that replays
// the files and folders named on its command line (no clang needed).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scanner_fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!qf::fuzz::is_valid_utf8(text)) return -1;  // not added to the corpus
  const bool ok = qf::fuzz::scan_and_check(text, /*keep_comments=*/true, /*file_id=*/3);
  // The same text without comment keeping scans the same way.
  QF_FUZZ_CHECK(qf::fuzz::scan_and_check(text, false) == ok);
  return 0;
}

#ifdef QF_FUZZ_STANDALONE
#include "replay_main.hpp"
#endif
