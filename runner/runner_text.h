// The runner's user texts: one handle per identifier, registered with its English default
// before the program's entry point runs. Localised data can replace any of them.
#pragma once

extern const char16_t* const kUtErrorAdministratorRequired;
extern const char16_t* const kUtErrorCorruptOrIncompleteMedia;  // %1 module path
extern const char16_t* const kUtErrorCorruptTitle;
extern const char16_t* const kUtErrorEmbeddedCommandFailed;  // %1 command line, %2 error code
extern const char16_t* const kUtErrorExtractingMedia;        // %1 module path, %2 temporary dir
extern const char16_t* const kUtErrorExtractingTitle;
extern const char16_t* const kUtErrorNoProgramFolder;  // %1 mount point of the temporary folder
extern const char16_t* const kUtExtractCancelButton;
extern const char16_t* const kUtExtractText;
extern const char16_t* const kUtExtractTitle;
extern const char16_t* const kUtVerifyElapsedTime;
extern const char16_t* const kUtVerifySkipButton;
extern const char16_t* const kUtVerifyText;
extern const char16_t* const kUtVerifyTitle;
