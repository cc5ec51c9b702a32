#include "tools/tool.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "base/reject.h"

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
  if (!c.options.empty()) {
    std::printf("\noptions:\n");
    for (const Option& o : c.options) {
      std::string left = o.short_name ? std::string("-") + o.short_name + ", " : "    ";
      left += std::string("--") + o.name;
      if (o.value_name) left += std::string(" ") + o.value_name;
      std::printf("  %-28s %s\n", left.c_str(), o.help);
    }
    std::printf("  %-28s %s\n", "    --help", "show this help");
  }
  if (c.details) std::printf("\n%s", c.details);
}

static const Option* Find(const Command& c, const char* name, char short_name) {
  for (const Option& o : c.options)
    if ((name && std::strcmp(o.name, name) == 0) || (short_name && o.short_name == short_name))
      return &o;
  return nullptr;
}

// "--name" or "--name=value".
static int ParseLong(const Command& command, const std::string& arg, int argc, char** argv, int* i,
                     Invocation* out) {
  size_t eq = arg.find('=');
  std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  const Option* opt = Find(command, name.c_str(), 0);
  if (!opt) return UsageError(*out, "unknown option " + arg.substr(0, eq));
  std::string value;
  if (eq != std::string::npos) {
    if (!opt->value_name)
      return UsageError(*out, std::string("option --") + opt->name + " takes no value");
    value = arg.substr(eq + 1);
  } else if (opt->value_name) {
    if (*i + 1 >= argc)
      return UsageError(*out, std::string("option --") + opt->name + " needs " + opt->value_name);
    value = argv[++*i];
  }
  out->values.emplace_back(opt->name, value);
  return kExitOk;
}

// "-x", or a bundle of short options the way getopt reads one: "-lR" is "-l -R", and the first
// letter that takes a value takes the rest of the word ("-oFILE", "-loFILE") or else the next
// argument ("-lo FILE").
static int ParseShort(const Command& command, const std::string& arg, int argc, char** argv, int* i,
                      Invocation* out) {
  for (size_t at = 1; at < arg.size(); ++at) {
    const Option* opt = Find(command, nullptr, arg[at]);
    if (!opt && arg[at] == 'h') {
      PrintHelp(command);
      return kHelpShown;
    }
    if (!opt)
      return UsageError(
          *out, std::string("unknown option -") + arg[at] + (arg.size() > 2 ? " in " + arg : ""));
    if (!opt->value_name) {
      out->values.emplace_back(opt->name, "");
      continue;
    }
    std::string value;
    if (at + 1 < arg.size()) {
      value = arg.substr(at + 1);
    } else if (*i + 1 < argc) {
      value = argv[++*i];
    } else {
      return UsageError(*out, std::string("option -") + arg[at] + " needs " + opt->value_name);
    }
    out->values.emplace_back(opt->name, value);
    break;
  }
  return kExitOk;
}

int Parse(const Command& command, int argc, char** argv, Invocation* out) {
  clear_rejection_reason();  // each invocation starts without one
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
    if (arg == "--help") {
      PrintHelp(command);
      return kHelpShown;
    }
    int rc = arg[1] == '-' ? ParseLong(command, arg, argc, argv, &i, out)
                           : ParseShort(command, arg, argc, argv, &i, out);
    if (rc != kExitOk) return rc;
  }
  return kExitOk;
}

// The error line, with the reason a check recorded for this failure when there is one.
int Fail(const Invocation& inv, err_t code, const std::string& message) {
  const char* reason = last_rejection_reason();
  std::fprintf(stderr, "isorun: %s: %s (error %u)%s%s\n",
               inv.command ? inv.command->name : "isorun", message.c_str(),
               static_cast<unsigned>(code), *reason ? ": " : "", reason);
  return kExitFailure;
}

int UsageError(const Invocation& inv, const std::string& message) {
  const char* name = inv.command ? inv.command->name : "";
  std::fprintf(stderr, "isorun: %s: %s\nTry 'isorun %s --help'.\n", name, message.c_str(), name);
  return kExitUsage;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end || v > max) return false;
  *out = v;
  return true;
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
    if (unit == u ||
        (shift && (unit == u + "B" || unit == u + "iB" || unit == std::string(1, u[0] + 32)))) {
      uint64_t scaled = value << (10 * shift);
      if ((scaled >> (10 * shift)) != value) return false;
      *out = scaled;
      return true;
    }
  }
  return false;
}

}  // namespace tool
