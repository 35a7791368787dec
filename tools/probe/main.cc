// Loads the platform library and prints what it found on this machine.
#include <cstdio>

#include "browserplatform/types.h"

int main() {
  SetLastError(0);
  std::printf("platform library loaded; last error %u\n", GetLastError());
  return 0;
}
