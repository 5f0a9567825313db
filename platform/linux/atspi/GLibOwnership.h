#pragma once

#include <atspi/atspi.h>

#include <memory>
#include <optional>
#include <string>

namespace quillet::platform::atspi {

// Owners for what GLib and libatspi hand out, so that every early return frees it.

struct GObjectUnref {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <class T>
using GObjectPointer = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};
template <class T>
using GMemory = std::unique_ptr<T, GFree>;

struct HashTableUnref {
  void operator()(GHashTable* table) const {
    if (table != nullptr) g_hash_table_unref(table);
  }
};
using HashTablePointer = std::unique_ptr<GHashTable, HashTableUnref>;

// The GError a libatspi call may set, freed with it.
class CallError {
 public:
  CallError() = default;
  ~CallError() {
    if (error_ != nullptr) g_error_free(error_);
  }
  CallError(const CallError&) = delete;
  CallError& operator=(const CallError&) = delete;

  GError** out() { return &error_; }
  [[nodiscard]] bool failed() const { return error_ != nullptr; }
  [[nodiscard]] std::string message() const { return error_ != nullptr ? error_->message : "unknown failure"; }

 private:
  GError* error_ = nullptr;
};

inline std::optional<std::string> takeText(gchar* owned) {
  GMemory<gchar> text(owned);
  if (!text) return std::nullopt;
  return std::string(text.get());
}

inline bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
  GObjectPointer<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
  return states && atspi_state_set_contains(states.get(), state);
}

}  // namespace quillet::platform::atspi
