// The runner's warning box: shown for each failure of its own, with an OK button and the
// exclamation icon, owned by the desktop. The Linux runner writes the caption and the body to
// standard error instead, one line each.
#pragma once

void show_message_box(const char16_t* caption, const char16_t* body);
