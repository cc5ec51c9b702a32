// In-memory dialog templates in the extended layout (DLGTEMPLATEEX with DLGITEMTEMPLATEEX
// items), built without the resource compiler. Each builder appends one record to a caller's
// buffer: it always advances the running length but writes only when the whole record fits the
// capacity, so a first pass with capacity 0 measures the template and a second pass fills it.
//
// Every dialog gets DS_SETFONT and DS_FIXEDSYS and the font "MS Shell Dlg 2" at 8 points.
// Records are padded with zeros to a multiple of 4 bytes, as the dialog manager expects items
// to start on a 32-bit boundary. The layout is plain bytes, so it is built and checked on every
// platform; only Windows shows it.
#pragma once
#include <cstddef>
#include <cstdint>

// Styles the header builder always adds.
inline constexpr uint32_t kDsFixedSys = 0x0008;
inline constexpr uint32_t kDsSetFont = 0x0040;

// The font block.
inline constexpr uint16_t kDialogFontPoints = 8;
inline constexpr uint16_t kDialogFontWeight = 0;
inline constexpr uint8_t kDialogFontItalic = 0;
inline constexpr uint8_t kDialogFontCharset = 1;  // the default character set
inline constexpr char16_t kDialogFontFace[] = u"MS Shell Dlg 2";

// Header: fixed fields, then menu, window class and title as NUL-terminated UTF-16 strings,
// then the font block (points, weight, italic, character set, face name).
inline constexpr size_t kDlgVersion = 0;     // 16 bits: 1
inline constexpr size_t kDlgSignature = 2;   // 16 bits: 0xFFFF
inline constexpr size_t kDlgHelpId = 4;      // 32 bits
inline constexpr size_t kDlgExStyle = 8;     // 32 bits
inline constexpr size_t kDlgStyle = 12;      // 32 bits
inline constexpr size_t kDlgItemCount = 16;  // 16 bits
inline constexpr size_t kDlgX = 18;          // 16 bits each: x, y, width, height
inline constexpr size_t kDlgY = 20;
inline constexpr size_t kDlgWidth = 22;
inline constexpr size_t kDlgHeight = 24;
inline constexpr size_t kDlgStrings = 26;    // menu, class, title
inline constexpr size_t kDlgFontPoints = 0;  // from the end of the title
inline constexpr size_t kDlgFontWeight = 2;
inline constexpr size_t kDlgFontItalic = 4;   // 8 bits
inline constexpr size_t kDlgFontCharset = 5;  // 8 bits
inline constexpr size_t kDlgFontFace = 6;

inline constexpr uint16_t kDlgVersionValue = 1;
inline constexpr uint16_t kDlgSignatureValue = 0xFFFF;

// Item: fixed fields, then class name and text as NUL-terminated UTF-16 strings, then a 16-bit
// count of creation data bytes (always 0 here).
inline constexpr size_t kItemHelpId = 0;   // 32 bits
inline constexpr size_t kItemExStyle = 4;  // 32 bits
inline constexpr size_t kItemStyle = 8;    // 32 bits
inline constexpr size_t kItemX = 12;       // 16 bits each: x, y, width, height
inline constexpr size_t kItemY = 14;
inline constexpr size_t kItemWidth = 16;
inline constexpr size_t kItemHeight = 18;
inline constexpr size_t kItemId = 20;       // 32 bits
inline constexpr size_t kItemStrings = 24;  // class, text, extra count

// Appends the dialog header at *length (which is 0 for a new template): zero help id and
// extended style, no items yet, position (0, 0), `style` | DS_SETFONT | DS_FIXEDSYS. A null
// string counts as empty.
void GdiTemplateHeader(uint8_t* buffer, size_t capacity, size_t* length, const char16_t* class_name,
                       const char16_t* title, const char16_t* menu, int16_t width, int16_t height,
                       uint32_t style);

// Appends one control and counts it in the header at the start of the buffer. An item that does
// not fit is neither written nor counted.
void GdiTemplateItem(uint8_t* buffer, size_t capacity, size_t* length, const char16_t* class_name,
                     const char16_t* text, uint32_t id, int16_t x, int16_t y, int16_t width,
                     int16_t height, uint32_t style, uint32_t ex_style);
