#include "tools/commands.h"

namespace tool {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      PackCommand(),
      InfoCommand(),
      VerifyCommand(),
      SfxCommand(),
      ExtractCommand(),
      ScfCommand(),
      UserTextCommand(),
  };
  return commands;
}

}  // namespace tool
