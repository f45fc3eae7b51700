// korvel_beads::CommandSpec — one command for ProcessRunner::run: the program, its arguments and
// the child's working directory. argv() is the command line as text, for stage receipts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel_beads {

struct CommandSpec {
  // A name without a slash is looked up in the PATH of the inherited environment; a name with a
  // slash is used as a path (resolved after the child has changed into `cwd`).
  std::filesystem::path program;
  // Passed to the child one by one: no shell, no quoting, no expansion.
  std::vector<std::string> args;
  std::filesystem::path cwd;

  // The program as text (each invalid UTF-8 sequence replaced by U+FFFD) followed by every
  // argument, in order. Not used to start the child.
  std::vector<std::string> argv() const;
};

}  // namespace korvel_beads
