#include "tools/tool.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tool {

bool Invocation::Has(const char* name) const {
  for (auto& [key, value] : values)
    if (key == name) return true;
  return false;
}

std::string Invocation::Value(const char* name, const std::string& fallback) const {
  for (auto it = values.rbegin(); it != values.rend(); ++it)
    if (it->first == name) return it->second;
  return fallback;
}

static void PrintHelp(const Command& c) {
  std::printf("usage: isorun %s [OPTIONS] %s\n\n%s\n", c.name, c.synopsis, c.summary);
  if (c.options.empty()) return;
  std::printf("\noptions:\n");
  for (const Option& o : c.options) {
    std::string left = o.short_name ? std::string("-") + o.short_name + ", " : "    ";
    left += std::string("--") + o.name;
    if (o.value_name) left += std::string(" ") + o.value_name;
    std::printf("  %-28s %s\n", left.c_str(), o.help);
  }
  std::printf("  %-28s %s\n", "    --help", "show this help");
}

static const Option* Find(const Command& c, const char* name, char short_name) {
  for (const Option& o : c.options)
    if ((name && std::strcmp(o.name, name) == 0) || (short_name && o.short_name == short_name)) return &o;
  return nullptr;
}

int Parse(const Command& command, int argc, char** argv, Invocation* out) {
  out->command = &command;
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      out->args.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      PrintHelp(command);
      return kHelpShown;
    }
    std::string name, value;
    bool has_inline = false;
    const Option* opt;
    if (arg[1] == '-') {
      size_t eq = arg.find('=');
      name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) value = arg.substr(eq + 1), has_inline = true;
      opt = Find(command, name.c_str(), 0);
    } else {
      opt = Find(command, nullptr, arg[1]);
      if (arg.size() > 2) value = arg.substr(2), has_inline = true;
    }
    if (!opt) return UsageError(*out, "unknown option " + arg);
    if (opt->value_name && !has_inline) {
      if (i + 1 >= argc) return UsageError(*out, std::string("option --") + opt->name + " needs " + opt->value_name);
      value = argv[++i];
    } else if (!opt->value_name && has_inline) {
      return UsageError(*out, std::string("option --") + opt->name + " takes no value");
    }
    out->values.emplace_back(opt->name, value);
  }
  return kExitOk;
}

int Fail(const Invocation& inv, err_t code, const std::string& message) {
  std::fprintf(stderr, "isorun: %s: %s (error %u)\n", inv.command ? inv.command->name : "isorun",
               message.c_str(), static_cast<unsigned>(code));
  return kExitFailure;
}

int UsageError(const Invocation& inv, const std::string& message) {
  const char* name = inv.command ? inv.command->name : "";
  std::fprintf(stderr, "isorun: %s: %s\nTry 'isorun %s --help'.\n", name, message.c_str(), name);
  return kExitUsage;
}

bool ParseSize(const std::string& text, uint64_t* out) {
  size_t i = 0;
  uint64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value > (UINT64_MAX - 9) / 10) return false;
    value = value * 10 + (text[i++] - '0');
  }
  if (i == 0) return false;
  std::string unit = text.substr(i);
  static const char* const kUnits[] = {"", "K", "M", "G", "T"};
  for (int shift = 0; shift < 5; ++shift) {
    std::string u = kUnits[shift];
    if (unit == u || (shift && (unit == u + "B" || unit == u + "iB" || unit == std::string(1, u[0] + 32)))) {
      uint64_t scaled = value << (10 * shift);
      if ((scaled >> (10 * shift)) != value) return false;
      *out = scaled;
      return true;
    }
  }
  return false;
}

}  // namespace tool
