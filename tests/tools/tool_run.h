// Runs a host-tool command in-process, capturing what it writes, for the command tests.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tool.h"

struct ToolRun {
  int code;
  std::string out, err;
};

// words[0] is the command name; the rest are its arguments.
inline ToolRun RunTool(std::vector<std::string> words) {
  for (const tool::Command& c : tool::Commands()) {
    if (words[0] != c.name) continue;
    std::vector<char*> argv;
    for (size_t i = 1; i < words.size(); ++i) argv.push_back(words[i].data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tool::Invocation inv;
    int code = tool::Parse(c, static_cast<int>(argv.size()), argv.data(), &inv);
    if (code == tool::kExitOk) code = c.run(inv);
    return {code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
  }
  return {-1, "", "no such command"};
}
