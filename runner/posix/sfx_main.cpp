// The Linux runner's entry point: the arguments arrive as UTF-8 and go on as UTF-16.
#include "base/pool.h"
#include "base/text.h"
#include "runner/runner.h"

int main(int argc, char** argv) {
  kd_mp_c pool;
  const char16_t** wide = pool.AllocArray<const char16_t*>(size_t(argc) + 1);
  if (!wide) return kExitRunnerFailed;
  for (int i = 0; i < argc; ++i) {
    wide[i] = Utf8ToUtf16Pool(&pool, argv[i], -1);
    if (!wide[i]) return kExitRunnerFailed;
  }
  return runner_main(argc, wide);
}
