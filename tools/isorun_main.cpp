// The isorun host tool: builds and inspects runners, containers and disc images.
#include <cstdio>
#include <cstring>

#include "tools/tool.h"

static void PrintOverview() {
  std::printf("usage: isorun COMMAND [OPTIONS] ARGS\n\ncommands:\n");
  for (const tool::Command& c : tool::Commands()) std::printf("  %-10s %s\n", c.name, c.summary);
  std::printf(
      "\n'isorun COMMAND --help' tells more about a command; 'isorun --version' prints the\n"
      "version.\n");
}

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("isorun %s\n", ISORUN_VERSION);
    return tool::kExitOk;
  }
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    PrintOverview();
    return argc < 2 ? tool::kExitUsage : tool::kExitOk;
  }
  for (const tool::Command& c : tool::Commands()) {
    if (std::strcmp(c.name, argv[1]) != 0) continue;
    tool::Invocation inv;
    int rc = tool::Parse(c, argc - 2, argv + 2, &inv);
    if (rc == tool::kHelpShown) return tool::kExitOk;
    if (rc != tool::kExitOk) return rc;
    return c.run(inv);
  }
  std::fprintf(stderr, "isorun: unknown command '%s'\nTry 'isorun --help'.\n", argv[1]);
  return tool::kExitUsage;
}
