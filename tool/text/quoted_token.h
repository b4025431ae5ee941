// A token of a text file as a message may show it.
#ifndef MORVANE_QUOTED_TOKEN_H
#define MORVANE_QUOTED_TOKEN_H

#include <string>
#include <string_view>

namespace morvane {

// Quoted, printable characters only, cut short when long: a binary file
// posing as a grid must not spill control bytes onto the console.
std::string quotedToken(std::string_view token);

}  // namespace morvane

#endif
