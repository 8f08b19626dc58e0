#include "server/sign/delta.h"

#include <zstd.h>

#include <algorithm>
#include <memory>

#include "platform/atomic_file.h"
#include "platform/errors.h"
#include "platform/file_bytes.h"
#include "server/sign/signing.h"

namespace jov::sign {
namespace {

struct CctxFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// A level that finds the rebuilt functions' neighbours without taking minutes on 8 MiB.
constexpr int kLevel = 12;

// Enough window for a match from the end of the new file back to the start of the old one.
int WindowLogFor(std::size_t old_size, std::size_t new_size) {
  const std::size_t span = std::max<std::size_t>(old_size + new_size, 1);
  const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
  int log = bounds.lowerBound;
  while (log < bounds.upperBound && (std::size_t{1} << log) < span) ++log;
  return log;
}

void Check(std::size_t code, const char* what) {
  if (ZSTD_isError(code))
    throw Error(std::string("Cannot make the delta: ") + what + ": " + ZSTD_getErrorName(code));
}

}  // namespace

std::string MakeDeltaBytes(std::string_view old_program, std::string_view new_program) {
  if (old_program.size() > kMaxArchiveBytes || new_program.size() > kMaxArchiveBytes) {
    throw Error("Cannot make the delta: a program file is larger than 1 GiB");
  }
  const std::unique_ptr<ZSTD_CCtx, CctxFree> context(ZSTD_createCCtx());
  if (!context) throw std::bad_alloc();
  ZSTD_CCtx* c = context.get();
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, kLevel), "level");
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), "long distance");
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog,
                               WindowLogFor(old_program.size(), new_program.size())),
        "window");
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 1), "content size");
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1), "checksum");
  Check(ZSTD_CCtx_refPrefix(c, old_program.data(), old_program.size()), "prefix");
  std::string delta(ZSTD_compressBound(new_program.size()), '\0');
  const std::size_t size =
      ZSTD_compress2(c, delta.data(), delta.size(), new_program.data(), new_program.size());
  Check(size, "compress");
  delta.resize(size);
  return delta;
}

std::int64_t MakeDelta(const std::string& old_program, const std::string& new_program,
                       const std::string& out) {
  const std::string delta = MakeDeltaBytes(ReadFileBytes(old_program, kMaxArchiveBytes),
                                           ReadFileBytes(new_program, kMaxArchiveBytes));
  WriteFileAtomically(out, delta, 0644);
  return static_cast<std::int64_t>(delta.size());
}

}  // namespace jov::sign
