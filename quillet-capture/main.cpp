// quillet-capture: the meeting capture helper. Its protocol is not built yet, so it
// says so and fails rather than accept commands it cannot carry out.
#include <cstdio>
#include <sysexits.h>

int main() {
  std::fputs("[capture] this build does not include meeting capture yet\n", stderr);
  return EX_UNAVAILABLE;
}
