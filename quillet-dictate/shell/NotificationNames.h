#pragma once

// Names of the agent's in-process notifications.
namespace quillet::dictate::notification {

// Posted on every assignment of showCapsuleAutomatically; the object is the new value as a bool.
inline constexpr const char* kCapsuleVisibilityChanged = "vessio.capsuleVisibilityChanged";
// Asks the agent to open its HUD on the writing tab.
inline constexpr const char* kOpenSettings = "vessio.openSettings";

}  // namespace quillet::dictate::notification
