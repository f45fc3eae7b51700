// Component splitting of POSIX paths.
#include "korvel_beads/beads/path_components.hpp"

namespace korvel_beads::detail {

PathComponents path_components(std::string_view path) {
  PathComponents out;
  out.absolute = !path.empty() && path.front() == '/';
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    const std::size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    const std::string_view part = path.substr(start, i - start);
    if (part.empty()) continue;
    // A leading "." of a relative path says "here"; anywhere else it changes nothing.
    if (part == "." && (out.absolute || !out.parts.empty())) continue;
    out.parts.push_back(part);
  }
  return out;
}

}  // namespace korvel_beads::detail
