#include "tools/reader_open.h"

#include "tools/paths.h"

namespace tool {

int OpenReader(const Invocation& inv, const std::string& path, IsoReader** reader,
               const char** kind) {
  err_t e = OpenImageFile(Wide(path).c_str(), reader, kind);
  if (e == kOk) return kExitOk;
  if (e == kErrBadFormat || e == kErrHandleEof || e == kErrUnknownRevision)
    return Fail(inv, e, path + " is incomplete, corrupt, or missing additional part files");
  return Fail(inv, e, "cannot open " + path);
}

}  // namespace tool
