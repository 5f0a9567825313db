// quillet-presence: the presence monitor. Its monitors are not built yet, so it says
// so and fails rather than print presence lines it cannot back.
#include <cstdio>
#include <sysexits.h>

int main() {
  std::fputs("[presence] this build does not include presence monitoring yet\n", stderr);
  return EX_UNAVAILABLE;
}
