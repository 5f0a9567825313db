#pragma once

#include <vector>

#include "platform/Accessibility.h"
#include "platform/MainLoop.h"
#include "tests/support/RunLoopUntil.h"

namespace quillet::test {

// The first multi-line text on screen under `root`, depth first in the tree's order, searched through
// shown elements only: an editor's closed menus and popovers hold hundreds of elements nobody sees.
inline platform::AccessibilityElement shownTextArea(platform::Accessibility& accessibility,
                                                    const platform::AccessibilityElement& root) {
  using platform::AXAttribute;
  std::vector<platform::AccessibilityElement> pending{root};
  for (int visited = 0; !pending.empty() && visited < 5000; ++visited) {
    auto element = pending.back();
    pending.pop_back();
    if (accessibility.typedAttribute<std::string>(element, AXAttribute::role) == "AXTextArea") return element;
    auto children = accessibility.typedAttribute<platform::AXElementList>(element, AXAttribute::children)
                        .value_or(platform::AXElementList{});
    for (auto child = children.rbegin(); child != children.rend(); ++child) {
      if (accessibility.typedAttribute<bool>(*child, AXAttribute::hidden) != true) pending.push_back(*child);
    }
  }
  return {};
}

// The document view of the application `processId`, once it has registered with the accessibility bus
// and shows one; "no element" when it does not within `seconds` of running `loop`.
inline platform::AccessibilityElement documentViewOf(platform::Accessibility& accessibility, platform::MainLoop& loop,
                                                     int processId, double seconds = 20) {
  platform::AccessibilityElement view;
  runLoopUntil(
      loop,
      [&] {
        const auto application = accessibility.applicationElement(processId);
        if (!application.isNone()) view = shownTextArea(accessibility, application);
        return !view.isNone();
      },
      seconds);
  return view;
}

}  // namespace quillet::test
