// bstorage: inspects, checks and edits browser profiles through libbrowserstorage.so, and plays
// the demo session that `make run` shows.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bstorage/commands.h"

namespace {

constexpr char kUsage[] =
    "usage: bstorage <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  demo [DIR]                       play a browser session on a fresh profile and verify it\n"
    "  info DIR                         each storage: file, size, items, how it loaded\n"
    "  check DIR                        verify every file without changing the profile\n"
    "  dump DIR STORAGE [--json]        a storage's contents\n"
    "  get DIR STORAGE KEY [--hex]      one key-value entry\n"
    "  set DIR STORAGE KEY VALUE [--hex]\n"
    "  rm DIR STORAGE KEY\n"
    "  bookmarks DIR search TEXT | tree | export FILE.html | import FILE.html [--into FOLDER]\n"
    "  icons DIR list [--json] | extract KEY FILE\n"
    "\n"
    "STORAGE: userpref, browserpref, userselected, startupdata, bookmark, favicon, extensions,\n"
    "autofill, autologin (or the file name, e.g. userpref_v2).\n"
    "'bstorage <command> --help' describes a command.\n"
    "exit status: 0 ok, 1 problems found, 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << kUsage;
    return bstorage::kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return bstorage::kExitOk;
  }
  for (const bstorage::Command& entry : bstorage::Commands()) {
    if (command != entry.name) continue;
    for (const std::string& arg : args) {
      if (arg == "--help" || arg == "-h") {
        std::cout << entry.help;
        return bstorage::kExitOk;
      }
    }
    return entry.run(args);
  }
  std::cerr << "bstorage: unknown command '" << command << "'\n\n" << kUsage;
  return bstorage::kExitUsage;
}
