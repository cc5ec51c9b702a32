// Error codes. Every operation returns one of these (Windows numbering, 0 = success) and
// leaves its out-parameters empty on failure. Platform code maps system errors onto them
// right after the call that failed.
#pragma once
#include <cstdint>

using err_t = uint32_t;

inline constexpr err_t kOk = 0;
inline constexpr err_t kErrInvalidFunction = 1;
inline constexpr err_t kErrFileNotFound = 2;
inline constexpr err_t kErrPathNotFound = 3;
inline constexpr err_t kErrTooManyOpenFiles = 4;  // LZMA blob decoder: bad parameter
inline constexpr err_t kErrAccessDenied = 5;
inline constexpr err_t kErrInvalidHandle = 6;  // LZMA blob decoder: out of memory
inline constexpr err_t kErrNotEnoughMemory = 8;
inline constexpr err_t kErrBadFormat = 11;  // bad format or failed integrity check
inline constexpr err_t kErrInvalidData = 13;
inline constexpr err_t kErrOutOfMemory = 14;
inline constexpr err_t kErrNotSameDevice = 17;  // LZMA blob decoder: corrupt data
inline constexpr err_t kErrNoMoreFiles = 18;    // no more entries
inline constexpr err_t kErrWriteProtect = 19;
inline constexpr err_t kErrWriteFault = 29;
inline constexpr err_t kErrReadFault = 30;
inline constexpr err_t kErrGenFailure = 31;
inline constexpr err_t kErrSharingViolation = 32;
inline constexpr err_t kErrHandleEof = 38;       // end of data
inline constexpr err_t kErrHandleDiskFull = 39;  // output full
inline constexpr err_t kErrNotSupported = 50;
inline constexpr err_t kErrFileExists = 80;
inline constexpr err_t kErrInvalidParameter = 87;
inline constexpr err_t kErrBrokenPipe = 109;
inline constexpr err_t kErrDiskFull = 112;
inline constexpr err_t kErrInsufficientBuffer = 122;
inline constexpr err_t kErrInvalidName = 123;  // also: a name extraction refuses to write
inline constexpr err_t kErrSeekOnDevice = 132;
inline constexpr err_t kErrDirNotEmpty = 145;
inline constexpr err_t kErrBusy = 170;
inline constexpr err_t kErrAlreadyExists = 183;
inline constexpr err_t kErrBadExeFormat = 193;  // the file is no program this system can run
inline constexpr err_t kErrFilenameTooLong = 206;
inline constexpr err_t kErrFileTooLarge = 223;
inline constexpr err_t kErrMoreData = 234;
inline constexpr err_t kErrDirectory = 267;
inline constexpr err_t kErrOperationAborted = 995;
inline constexpr err_t kErrIoPending = 997;
inline constexpr err_t kErrIoDevice = 1117;
inline constexpr err_t kErrCancelled = 1223;  // the user asked the work to stop
inline constexpr err_t kErrTooManyLinks = 1142;
inline constexpr err_t kErrCantResolveFilename = 1921;  // a loop of links, or a link not to follow
inline constexpr err_t kErrTimeout = 1460;
inline constexpr err_t kErrUnknownRevision = 1305;  // unsupported format revision, method or size
inline constexpr err_t kErrNotFound = 1168;
inline constexpr err_t kErrResourceTypeNotFound = 1813;
inline constexpr err_t kErrResourceNameNotFound = 1814;
inline constexpr err_t kErrStackOverflow = 1001;  // a nesting bound was hit
