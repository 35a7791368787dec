// The subcommands of bstorage.
#pragma once

#include <string>
#include <vector>

namespace bstorage {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1;
inline constexpr int kExitUsage = 2;

struct Command {
  const char* name;
  const char* help;
  int (*run)(const std::vector<std::string>& args);
};

const std::vector<Command>& Commands();

}  // namespace bstorage
