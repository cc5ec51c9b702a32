#include "runner/runner_text.h"

#include "usertext/user_text.h"

const char16_t* const kUtErrorAdministratorRequired = UserTextDefault(
    u"error_administrator_required", "This program must be run by an administrator.\n");
const char16_t* const kUtErrorCorruptOrIncompleteMedia =
    UserTextDefault(u"error_corrupt_or_incomplete_media",
                    "The file \"%1\" is incomplete, corrupt, or missing additional part files.\n");
const char16_t* const kUtErrorCorruptTitle =
    UserTextDefault(u"error_corrupt_title", "Media Corrupt or Incomplete");
const char16_t* const kUtErrorEmbeddedCommandFailed = UserTextDefault(
    u"error_embedded_command_failed", "ERROR: %2 Unable to execute command \"%1\".");
const char16_t* const kUtErrorExtractingMedia =
    UserTextDefault(u"error_extracting_media",
                    "Unable to extract contents of \"%1\" to \"%2\".\nCheck permissions and "
                    "available free space.\n");
const char16_t* const kUtErrorExtractingTitle =
    UserTextDefault(u"error_extracting_title", "Extraction Failed");
const char16_t* const kUtErrorNoProgramFolder = UserTextDefault(
    u"error_no_program_folder",
    "The temporary folder is on \"%1\", which is mounted without the right to run programs, and "
    "no other folder could be used.\nChoose one that allows it, for example: TMPDIR=~/tmp\n");
const char16_t* const kUtExtractCancelButton = UserTextDefault(u"extract_cancel_button", "Cancel");
const char16_t* const kUtExtractText =
    UserTextDefault(u"extract_text", "Unpacking the setup's files to a temporary folder.");
const char16_t* const kUtExtractTitle = UserTextDefault(u"extract_title", "Preparing Setup");
const char16_t* const kUtVerifyElapsedTime =
    UserTextDefault(u"verify_elapsed_time", "Elapsed time:");
const char16_t* const kUtVerifySkipButton = UserTextDefault(u"verify_skip_button", "Skip");
const char16_t* const kUtVerifyText =
    UserTextDefault(u"verify_text", "Checking that the setup is complete and undamaged.");
const char16_t* const kUtVerifyTitle = UserTextDefault(u"verify_title", "Verifying Media");
