#include "runner/runner.h"

#include "base/file.h"
#include "base/folders.h"
#include "base/format.h"
#include "base/pool.h"
#include "base/reject.h"
#include "base/thread.h"
#include "isofs/media.h"
#include "runner/admin.h"
#include "runner/console.h"
#include "runner/diagnostic.h"
#include "runner/extract.h"
#include "runner/message_box.h"
#include "runner/process.h"
#include "runner/resources.h"
#include "runner/run_folders.h"
#include "runner/runner_text.h"
#include "runner/run_progress.h"
#include "usertext/user_text.h"

namespace {

constexpr char16_t kDefaultRunExe[] = u"autorun.exe";

// What one run holds from start-up to clean-up.
struct Run {
  UtPool pool;  // owns every string below
  int argc = 0;
  const char16_t* const* argv = nullptr;
  const char16_t** child_argv = nullptr;  // argc + 1 entries, filled after extraction
  const char16_t* module_path = nullptr;
  const char16_t* temp_name = nullptr;  // the run directory's first name, in whichever folder
  const char16_t* temp_dir = nullptr;
  const char16_t* noexec_mount = nullptr;  // the temporary folder's, when it cannot run programs
  file_handle_t temp_handle = kNoHandle;   // holds temp_dir from its creation to its deletion
  SeVolume* media = nullptr;
  SeProgressRecord* progress = nullptr;  // null when memory ran out
  bool progress_shown = false;           // its view is open
  process_t* child = nullptr;
  RunnerOptions options;
};

void ShowCorruptMediaBox(Run& run) {
  show_message_box(UserTextGet(&run.pool, kUtErrorCorruptTitle),
                   UserTextGet1(&run.pool, kUtErrorCorruptOrIncompleteMedia,
                                display_path(&run.pool, run.module_path)));
}

// Steps 1-6 and 8-9 of the run: everything before the main sequence.
void StartUp(Run& run, int argc, const char16_t* const* argv) {
  run.argc = argc;
  run.argv = argv;
  run.child_argv = run.pool.AllocArray<const char16_t*>(size_t(argc) + 1);
  run.module_path = module_path();
  run.temp_name = runner_temp_name(&run.pool, module_base_name(), system_time_now());
  run.progress = CreateProgressView();
  if (run.progress) run.progress->StopOn(process_pin(kPinInterrupt));
  console_setup();
  load_user_text_on_first_use();
  read_runner_options(&run.pool, &run.options);
  set_use_stderr(run.options.use_stderr);
}

// Starts the child with the caller's arguments behind the program's full path and this
// process's standard handles: 0 or the error that kept it from starting.
err_t StartChild(Run& run) {
  // Without the directory's own name the program would be looked for in the wrong place.
  if (!run.child_argv || !run.temp_dir) return kErrOutOfMemory;
  for (int i = 1; i <= run.argc; ++i) run.child_argv[i] = run.argv[i];
  // The child, its messages and the box name the program as the system's users write paths.
  const char16_t* program = path_join(&run.pool, run.temp_dir, run.options.run_exe);
  if (!program) return kErrOutOfMemory;
  run.child_argv[0] = display_path(&run.pool, program);
  err_t e = create_process(&run.child);
  if (e != kOk) return e;
  const process_i* child = run.child->table;
  child->set_stdin(run.child, current_standard_handle(kStdInput));
  child->set_stdout(run.child, current_standard_handle(kStdOutput));
  child->set_stderr(run.child, current_standard_handle(kStdError));
  return child->launch(run.child, run.child_argv);
}

// The box for a program that could not be run, with the error code; returns 99.
int ShowCommandFailed(malloc_i* pool, const char16_t* program, const char16_t* command_line,
                      err_t e) {
  const char16_t* code = TextFormatPool(pool, u"%i", int(e));
  show_message_box(program, UserTextGet2(pool, kUtErrorEmbeddedCommandFailed, command_line, code));
  return kExitRunnerFailed;
}

// Runs the child to its end; returns its exit code, or 99 when it cannot be started.
int RunChild(Run& run) {
  err_t e = StartChild(run);
  if (e == kOk) return int(run.child->table->wait_exit(run.child));
  const char16_t* program = nullptr;
  const char16_t* command_line = nullptr;
  if (run.child_argv) {
    program = run.child_argv[0];
    command_line = build_command_line(&run.pool, run.child_argv, nullptr);
  }
  diag_write(u"error %i running \"%s\"\n", int(e), program);
  return ShowCommandFailed(&run.pool, program, command_line, e);
}

// Ctrl-C and its kin before the program has started end the run: the user asked to stop, and a
// half-verified or half-extracted setup must not start. Once the child runs, they are its own.
bool Interrupted() { return process_pin(kPinInterrupt)->triggered() != 0; }

int StopInterrupted() {
  diag_write(u"interrupted, not starting the program\n");
  return kExitRunnerFailed;
}

// Makes the run directory in the temporary folder, as before, unless its file system forbids
// running programs; then in the first other candidate that allows them and takes the directory.
// When none does, the error comes back with no directory made and the refusing mount noted.
err_t CreateRunDirectory(Run& run) {
  const char16_t* candidates[kRunFolderMax];
  size_t count = run_folder_candidates(&run.pool, candidates);
  for (size_t i = 0; i < count; ++i) {
    const char16_t* mount = nullptr;
    err_t e = folder_runs_programs(&run.pool, candidates[i], &mount);
    if (i == 0 && e == kErrAccessDenied) run.noexec_mount = mount;
    if (i == 0 ? e == kErrAccessDenied : e != kOk) continue;
    // Without its own name the directory would be the folder itself: never use that.
    run.temp_dir = run.temp_name ? path_join(&run.pool, candidates[i], run.temp_name) : nullptr;
    if (!run.temp_dir) return kErrOutOfMemory;
    e = create_run_directory(&run.pool, candidates[i], module_base_name(), system_time_now,
                             &run.temp_dir, &run.temp_handle);
    if (e == kOk || i == 0) return e;
  }
  run.temp_dir = nullptr;
  return kErrAccessDenied;
}

// Extracts the media into a new directory of the run's own, stopped by the interrupt pin (which
// Cancel triggers too), reporting to an open progress view the bytes written against the
// image's size.
err_t ExtractToRunDirectory(Run& run) {
  err_t e = CreateRunDirectory(run);
  if (e != kOk) return e;
  ExtractOptions options;
  options.stop = process_pin(kPinInterrupt);
  uint64_t image_size = 0;
  if (run.progress_shown && run.media->GetImageSize(&image_size) == kOk) {
    run.progress->BeginStep(ProgressStep::kExtract, image_size);
    options.progress = SeProgressRecord::OnWritten;
    options.progress_context = run.progress;
  }
  return extract_volume_into(run.temp_handle, run.media, options);
}

// The verify, when asked for, then the extraction: 0 or the first error, with *verify_failed
// telling whose it was.
err_t VerifyAndExtract(Run& run, bool* verify_failed) {
  *verify_failed = false;
  if (run.options.verify_media) {
    err_t e = RunVerify(run.media, run.progress);
    *verify_failed = e != kOk;
    if (e != kOk) return e;
    if (Interrupted()) return kErrCancelled;
  }
  return ExtractToRunDirectory(run);
}

// VerifyAndExtract with the progress view open meanwhile when the option asks for it; the view
// has gone when this returns, before any box and before the program.
err_t PrepareProgram(Run& run, bool* verify_failed) {
  // The view opens on the first step's texts.
  if (run.progress)
    run.progress->BeginStep(
        run.options.verify_media ? ProgressStep::kVerify : ProgressStep::kExtract, 0);
  run.progress_shown = run.options.show_progress && run.progress && run.progress->OpenView();
  err_t e = VerifyAndExtract(run, verify_failed);
  if (run.progress) run.progress->OnFinished();
  if (run.progress_shown) run.progress->CloseView();
  run.progress_shown = false;
  return e;
}

// The diagnostic line of media that does not open or verify, and after it the reason a check
// gave, when one did.
void DiagnoseCorruptMedia(err_t e) {
  diag_write(u"error %i mounting media, assuming corrupt/incomplete\n", int(e));
  if (*last_rejection_reason()) diag_write(u"reason: %S\n", last_rejection_reason());
}

// The box for a run with no folder to extract to: the temporary folder's mount forbids running
// programs and no other place took the run directory. Returns 99.
int ShowNoRunFolder(Run& run, err_t e) {
  diag_write(u"error %i: no folder that can run programs\n", int(e));
  show_message_box(
      UserTextGet(&run.pool, kUtErrorExtractingTitle),
      UserTextGet1(&run.pool, kUtErrorNoProgramFolder, display_path(&run.pool, run.noexec_mount)));
  return kExitRunnerFailed;
}

// The main sequence; returns the exit code. Each failure shows its box and returns 99.
int MainSequence(Run& run) {
  if (run.options.require_administrator && !user_is_administrator()) {
    show_message_box(run.argc > 0 ? run.argv[0] : nullptr,
                     UserTextGet(&run.pool, kUtErrorAdministratorRequired));
    return kExitRunnerFailed;
  }
  err_t e = OpenMedia(run.module_path, kNoHandle, kNoHandle, &run.media);
  if (e != kOk) {
    DiagnoseCorruptMedia(e);
    ShowCorruptMediaBox(run);
    return kExitRunnerFailed;
  }
  bool verify_failed = false;
  e = PrepareProgram(run, &verify_failed);
  // An interrupt (or Cancel) that stopped the steps is no failure of theirs: no box for it.
  if (Interrupted()) return StopInterrupted();
  if (verify_failed) {
    diag_write(u"error %i while verifying media\n", int(e));
    DiagnoseCorruptMedia(e);
    ShowCorruptMediaBox(run);
    return kExitRunnerFailed;
  }
  if (e != kOk && run.noexec_mount && IsNoHandle(run.temp_handle)) return ShowNoRunFolder(run, e);
  if (e != kOk) {
    diag_write(u"error %i extracting media\n", int(e));
    show_message_box(
        UserTextGet(&run.pool, kUtErrorExtractingTitle),
        UserTextGet2(&run.pool, kUtErrorExtractingMedia, display_path(&run.pool, run.module_path),
                     display_path(&run.pool, run.temp_dir)));
    return kExitRunnerFailed;
  }
  return RunChild(run);
}

// Clean-up, reached after every outcome of the main sequence.
void CleanUp(Run& run) {
  // Only the directory this run made, through the handle held since: never a path looked up again.
  if (!IsNoHandle(run.temp_handle)) {
    delete_tree_below(run.temp_handle);
    delete_held_directory(run.temp_handle, run.temp_dir);
    run.temp_handle = kNoHandle;
  }
  if (run.child) run.child->table->release(run.child);
  run.child = nullptr;
  ReleaseMedia(run.media);
  run.media = nullptr;
  runtime_shutdown();
  DestroyProgressView(run.progress);
  run.progress = nullptr;
  // The pool goes last, with the Run.
}

}  // namespace

void read_runner_options(malloc_i* pool, RunnerOptions* options) {
  read_option_bool(u"use_stderr", &options->use_stderr);
  read_option_bool(u"require_administrator", &options->require_administrator);
  const char16_t* run_exe = read_option_text(pool, u"run_exe");
  options->run_exe = run_exe && run_exe[0] ? run_exe : kDefaultRunExe;
  read_option_bool(u"verify_media", &options->verify_media);
  read_option_bool(u"show_progress", &options->show_progress);
}

char16_t* runner_temp_name(malloc_i* pool, const char16_t* base_name, int64_t time) {
  return TextFormatPool(pool, u"%s-%I64i", base_name, time);
}

err_t create_run_directory(malloc_i* pool, const char16_t* folder, const char16_t* base_name,
                           int64_t (*clock)(), const char16_t** path, file_handle_t* handle) {
  *handle = kNoHandle;
  if (!folder || !*path) return kErrOutOfMemory;
  if (err_t e = create_directory_tree(folder)) return e;
  err_t e = kErrFileExists;
  for (int attempt = 0; attempt < kRunDirectoryTries && e == kErrFileExists; ++attempt) {
    const char16_t* name = nullptr;
    if (attempt == 1) name = runner_temp_name(pool, base_name, clock());
    if (attempt > 1) name = TextFormatPool(pool, u"%s-%I64i-%i", base_name, clock(), attempt - 1);
    if (attempt > 0 && !name) return kErrOutOfMemory;
    const char16_t* candidate = attempt == 0 ? *path : path_join(pool, folder, name);
    if (!candidate) return kErrOutOfMemory;
    e = create_private_directory(handle, candidate);
    if (e == kOk) *path = candidate;
  }
  return e;
}

int runner_main(int argc, const char16_t* const* argv) {
  Run run;
  StartUp(run, argc, argv);
  int result = MainSequence(run);
  CleanUp(run);
  return result;
}

int runner_refuse_start(const char16_t* program, err_t error) {
  UtPool pool;
  return ShowCommandFailed(&pool, program, program, error);
}
