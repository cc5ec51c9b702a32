// System error numbers as the Windows codes the rest of the program reasons about: one table,
// and the one case (ENOENT) where Windows tells a missing file from a missing parent.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/file_internal.h"

namespace {

struct ErrnoCode {
  int error_number;
  err_t code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {EPERM, kErrAccessDenied},
    {ENOENT, kErrFileNotFound},
    {EINTR, kErrOperationAborted},
    {EIO, kErrIoDevice},
    {ENXIO, kErrFileNotFound},
    {E2BIG, kErrInvalidParameter},
    {EBADF, kErrInvalidHandle},
    {EAGAIN, kErrBusy},
    {ENOMEM, kErrNotEnoughMemory},
    {EACCES, kErrAccessDenied},
    {EFAULT, kErrInvalidParameter},
    {EBUSY, kErrBusy},
    {EEXIST, kErrFileExists},
    {EXDEV, kErrNotSameDevice},
    {ENODEV, kErrFileNotFound},
    {ENOTDIR, kErrPathNotFound},
    {EISDIR, kErrAccessDenied},
    {EINVAL, kErrInvalidParameter},
    {ENFILE, kErrTooManyOpenFiles},
    {EMFILE, kErrTooManyOpenFiles},
    {ETXTBSY, kErrSharingViolation},
    {EFBIG, kErrFileTooLarge},
    {ENOSPC, kErrDiskFull},
    {ESPIPE, kErrSeekOnDevice},
    {EROFS, kErrWriteProtect},
    {EMLINK, kErrTooManyLinks},
    {EPIPE, kErrBrokenPipe},
    {ENAMETOOLONG, kErrFilenameTooLong},
    {ENOSYS, kErrNotSupported},
    {ENOTEMPTY, kErrDirNotEmpty},
    {ELOOP, kErrCantResolveFilename},
    {EOVERFLOW, kErrInvalidParameter},
    {EILSEQ, kErrInvalidName},
    {EOPNOTSUPP, kErrNotSupported},
    {ETIMEDOUT, kErrTimeout},
    {EDQUOT, kErrDiskFull},
    {ECANCELED, kErrOperationAborted},
};

// Whether the directory that would hold native_path exists.
bool ParentExists(const char* native_path) {
  const char* slash = std::strrchr(native_path, '/');
  if (!slash || slash == native_path) return true;  // the root, or the current directory
  size_t length = static_cast<size_t>(slash - native_path);
  char parent[4096];
  if (length >= sizeof parent) return false;
  std::memcpy(parent, native_path, length);
  parent[length] = 0;
  struct stat st;
  return stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

err_t errno_to_error(int error_number) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error_number == error_number) return entry.code;
  }
  return kErrGenFailure;
}

err_t path_errno_to_error(int error_number, const char* native_path) {
  if (error_number == ENOENT && native_path && !ParentExists(native_path)) {
    return kErrPathNotFound;
  }
  return errno_to_error(error_number);
}
