// Whether the user running the program has administrator rights (Windows: the shell's own
// test; Linux: effective user id 0). Only asked when the runner requires administrators.
#pragma once

bool user_is_administrator();
