#include "quillet-capture/protocol/LineFramer.h"

namespace quillet::capture {

LineFramer::LineFramer(std::size_t maximumLineBytes) : maximumLineBytes_(maximumLineBytes) {}

void LineFramer::append(std::string_view bytes, const LineHandler& onLine, const OversizedHandler& onOversizedLine) {
  while (!bytes.empty()) {
    const std::size_t lineFeed = bytes.find('\n');
    const bool lineEnds = lineFeed != std::string_view::npos;
    const std::string_view piece = bytes.substr(0, lineFeed);
    bytes.remove_prefix(lineEnds ? lineFeed + 1 : bytes.size());

    if (skippingOversizedLine_) {
      skippingOversizedLine_ = !lineEnds;
      continue;
    }
    if (pending_.size() + piece.size() > maximumLineBytes_) {
      pending_.clear();
      skippingOversizedLine_ = !lineEnds;
      onOversizedLine();
      continue;
    }
    if (!lineEnds) {
      pending_.append(piece);
      continue;
    }
    if (pending_.empty()) {
      onLine(piece);
    } else {
      pending_.append(piece);
      const std::string line = std::move(pending_);
      pending_.clear();
      onLine(line);
    }
  }
}

}  // namespace quillet::capture
