// CommandSpec::argv — the command line as text for stage receipts.
#include "korvel_beads/runner/command.hpp"

#include "korvel/text/utf8.hpp"

namespace korvel_beads {

std::vector<std::string> CommandSpec::argv() const {
  std::vector<std::string> out;
  out.reserve(args.size() + 1);
  out.push_back(korvel::text::lossy_utf8(program.native()));
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

}  // namespace korvel_beads
