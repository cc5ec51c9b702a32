#include "tools/commands.h"

namespace tool {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      PackCommand(), InfoCommand(),    VerifyCommand(), LsCommand(),       CatCommand(),
      SfxCommand(),  ExtractCommand(), ScfCommand(),    UserTextCommand(),
  };
  return commands;
}

}  // namespace tool
