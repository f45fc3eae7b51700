// Internal: path_components splits a POSIX path into its root and its components the way the path
// rules of this library compare and take apart paths — repeated separators, a trailing separator
// and "." after the first component make no difference; ".." is kept as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvel_beads::detail {

struct PathComponents {
  bool absolute = false;
  std::vector<std::string_view> parts;  // views into the path's bytes

  friend bool operator==(const PathComponents&, const PathComponents&) = default;
};

PathComponents path_components(std::string_view path);

}  // namespace korvel_beads::detail
