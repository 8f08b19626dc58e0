#include "clientlib/delta_patch.h"

#include <zstd.h>

#include <memory>

namespace jov {
namespace {

struct DctxFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

}  // namespace

std::optional<std::string> ApplyDelta(std::string_view old_program, std::string_view delta,
                                      std::int64_t max_size, std::string* why) {
  const auto refuse = [&](const std::string& cause) -> std::optional<std::string> {
    if (why != nullptr) *why = cause;
    return std::nullopt;
  };
  if (max_size < 0) return refuse("no room for the program file");
  if (ZSTD_findFrameCompressedSize(delta.data(), delta.size()) != delta.size()) {
    return refuse("the delta is not one whole zstd frame");
  }
  const unsigned long long content = ZSTD_getFrameContentSize(delta.data(), delta.size());
  if (content == ZSTD_CONTENTSIZE_UNKNOWN || content == ZSTD_CONTENTSIZE_ERROR) {
    return refuse("the delta does not state the program file's size");
  }
  if (content > static_cast<unsigned long long>(max_size)) {
    return refuse("the delta makes " + std::to_string(content) + " bytes, more than " +
                  std::to_string(max_size));
  }
  // The widest window a patch of this old file to at most max_size bytes can need.
  const unsigned long long span = old_program.size() + static_cast<unsigned long long>(max_size);
  const ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
  int window_log = bounds.lowerBound;
  while (window_log < bounds.upperBound && (1ULL << window_log) < span) ++window_log;
  const std::unique_ptr<ZSTD_DCtx, DctxFree> context(ZSTD_createDCtx());
  if (!context) throw std::bad_alloc();
  ZSTD_DCtx* d = context.get();
  if (ZSTD_isError(ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, window_log)) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(d, old_program.data(), old_program.size()))) {
    return refuse("zstd cannot be set up");
  }
  std::string program(static_cast<std::size_t>(content), '\0');
  const std::size_t made =
      ZSTD_decompressDCtx(d, program.data(), program.size(), delta.data(), delta.size());
  if (ZSTD_isError(made)) return refuse(std::string("zstd: ") + ZSTD_getErrorName(made));
  if (made != program.size()) return refuse("the delta made fewer bytes than it states");
  return program;
}

}  // namespace jov
