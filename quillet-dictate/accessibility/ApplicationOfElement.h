#pragma once

#include <string>

#include "platform/AccessibilityElement.h"
#include "platform/AppIdentity.h"
#include "quillet-dictate/accessibility/ElementReading.h"

namespace quillet::dictate {

// The bundle identifier of the application owning `element`, or empty text when it cannot be told.
[[nodiscard]] std::string bundleIdOfElement(const ElementReading& reading, platform::AppIdentity& identity,
                                            const platform::AccessibilityElement& element);

// Chat-style applications whose fields take text best by pasting and want a plain capsule.
[[nodiscard]] bool isSimpleDecorationApp(const std::string& bundleId);

// True for a text field or area of a chat-style application, and for any field whose text or
// placeholder is only the application's prompt.
[[nodiscard]] bool prefersSimpleExternalDecoration(const ElementReading& reading, platform::AppIdentity& identity,
                                                   const platform::AccessibilityElement& element);

}  // namespace quillet::dictate
