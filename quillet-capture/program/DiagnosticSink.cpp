#include "quillet-capture/program/DiagnosticSink.h"

#include <unistd.h>

#include "quillet-capture/protocol/FullWrite.h"

namespace quillet::capture {

void writeToStandardError(std::string_view line) { static_cast<void>(writeFully(STDERR_FILENO, line)); }

}  // namespace quillet::capture
