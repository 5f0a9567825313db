#pragma once

#include <string_view>
#include <system_error>

namespace quillet::capture {

// Writes all of `bytes` to `descriptor`, across partial writes, interruptions and a non-blocking
// descriptor that is momentarily full; answers the write error, or none. A reader that went away
// answers std::errc::broken_pipe instead of raising SIGPIPE, whichever thread writes and whatever
// the process's SIGPIPE disposition is.
[[nodiscard]] std::error_code writeFully(int descriptor, std::string_view bytes);

}  // namespace quillet::capture
