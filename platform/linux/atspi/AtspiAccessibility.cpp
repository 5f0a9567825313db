#include "platform/linux/atspi/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

#include "common/runtime/RecentMap.h"
#include "platform/linux/atspi/AtspiRoleMapping.h"
#include "platform/linux/atspi/AtspiTextAccess.h"
#include "platform/linux/atspi/GLibOwnership.h"

namespace quillet::platform::atspi {

namespace {

constexpr std::string_view kApplicationRootPath = "/org/a11y/atspi/accessible/root";
// Bounds for the search of a focused element: deep enough for web pages, small enough for huge trees.
constexpr int kFocusSearchDepth = 32;
constexpr int kFocusSearchElements = 2000;
constexpr int kChildrenLimit = 2000;
constexpr int kApplicationsLimit = 512;
constexpr int kAncestorLimit = 64;
// How often a main loop that does not iterate GLib drains AT-SPI's pending events.
constexpr double kDrainInterval = 0.05;

// ---- Elements ------------------------------------------------------------------------------------

// One AT-SPI object: its application's bus name and its object path name it for as long as it lives.
class AtspiElementReference final : public AccessibilityElementReference {
 public:
  // Takes over one reference of `accessible`.
  explicit AtspiElementReference(AtspiAccessible* accessible) : accessible_(accessible) {
    const AtspiObject& object = accessible->parent;
    if (object.app != nullptr && object.app->bus_name != nullptr) busName_ = object.app->bus_name;
    if (object.path != nullptr) path_ = object.path;
  }

  [[nodiscard]] bool sameElement(const AccessibilityElementReference& other) const override {
    const auto* atspi = dynamic_cast<const AtspiElementReference*>(&other);
    return atspi != nullptr && atspi->busName_ == busName_ && atspi->path_ == path_;
  }

  [[nodiscard]] AtspiAccessible* accessible() const { return accessible_.get(); }
  [[nodiscard]] const std::string& busName() const { return busName_; }
  [[nodiscard]] bool isApplicationRoot() const { return path_ == kApplicationRootPath; }
  // Names the element among every application's elements.
  [[nodiscard]] std::string key() const { return busName_ + '\n' + path_; }
  [[nodiscard]] bool sameApplication(const AtspiElementReference& other) const { return busName_ == other.busName_; }

 private:
  GObjectPointer<AtspiAccessible> accessible_;
  std::string busName_;
  std::string path_;
};

AccessibilityElement takeElement(AtspiAccessible* owned) {
  if (owned == nullptr) return {};
  return AccessibilityElement(std::make_shared<AtspiElementReference>(owned));
}

AccessibilityElement borrowElement(AtspiAccessible* borrowed) {
  if (borrowed == nullptr) return {};
  return takeElement(static_cast<AtspiAccessible*>(g_object_ref(borrowed)));
}

const AtspiElementReference* referenceOf(const AccessibilityElement& element) {
  return dynamic_cast<const AtspiElementReference*>(element.reference());
}

// ---- Reading one element -------------------------------------------------------------------------

AtspiRole roleOf(AtspiAccessible* accessible) {
  CallError error;
  return atspi_accessible_get_role(accessible, error.out());
}

GObjectPointer<AtspiAccessible> parentOf(AtspiAccessible* accessible) {
  CallError error;
  return GObjectPointer<AtspiAccessible>(atspi_accessible_get_parent(accessible, error.out()));
}

std::optional<std::string> objectAttribute(AtspiAccessible* accessible, const char* name) {
  CallError error;
  HashTablePointer attributes(atspi_accessible_get_attributes(accessible, error.out()));
  if (!attributes) return std::nullopt;
  const auto* value = static_cast<const char*>(g_hash_table_lookup(attributes.get(), name));
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

AXRoleMapping axRoleOfAccessible(AtspiAccessible* accessible) {
  AtspiRoleFacts facts;
  facts.role = roleOf(accessible);
  GObjectPointer<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
  if (states) {
    facts.editable = atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE);
    facts.multiLine = atspi_state_set_contains(states.get(), ATSPI_STATE_MULTI_LINE);
  }
  if (roleDependsOnPlacement(facts.role)) {
    const auto parent = parentOf(accessible);
    facts.topLevel = parent && roleOf(parent.get()) == ATSPI_ROLE_APPLICATION;
  }
  if (roleMayBeSearchInput(facts.role)) facts.searchInput = objectAttribute(accessible, "text-input-type") == "search";
  return axRoleOf(facts);
}

std::optional<std::string> fullTextOf(AtspiText* text) {
  CallError error;
  const gint count = atspi_text_get_character_count(text, error.out());
  if (error.failed() || count < 0) return std::nullopt;
  CallError textError;
  return takeText(atspi_text_get_text(text, 0, count, textError.out()));
}

std::optional<std::string> textOf(AtspiAccessible* accessible) {
  GObjectPointer<AtspiText> text(atspi_accessible_get_text_iface(accessible));
  if (!text) return std::nullopt;
  return fullTextOf(text.get());
}

std::optional<AXAttributeValue> valueOf(AtspiAccessible* accessible) {
  if (auto text = textOf(accessible)) return *text;
  GObjectPointer<AtspiValue> value(atspi_accessible_get_value_iface(accessible));
  if (!value) return std::nullopt;
  CallError error;
  const double current = atspi_value_get_current_value(value.get(), error.out());
  if (error.failed()) return std::nullopt;
  return current;
}

std::optional<AXRect> extentsOf(AtspiAccessible* accessible) {
  GObjectPointer<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
  if (!component) return std::nullopt;
  CallError error;
  GMemory<AtspiRect> extents(atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, error.out()));
  if (!extents || error.failed()) return std::nullopt;
  return AXRect{{double(extents->x), double(extents->y)}, {double(extents->width), double(extents->height)}};
}

AXElementList childrenOf(AtspiAccessible* accessible) {
  CallError countError;
  const gint count = std::min(atspi_accessible_get_child_count(accessible, countError.out()), kChildrenLimit);
  AXElementList children;
  for (gint index = 0; index < count; ++index) {
    CallError error;
    if (auto child = takeElement(atspi_accessible_get_child_at_index(accessible, index, error.out())); !child.isNone()) {
      children.push_back(std::move(child));
    }
  }
  return children;
}

// The application's parent is the desktop, which AX does not show.
std::optional<AXAttributeValue> axParentOf(AtspiAccessible* accessible) {
  auto parent = parentOf(accessible);
  if (!parent || roleOf(parent.get()) == ATSPI_ROLE_DESKTOP_FRAME) return std::nullopt;
  return takeElement(parent.release());
}

GObjectPointer<AtspiAccessible> firstFocusedByCollection(AtspiAccessible* application) {
  GObjectPointer<AtspiCollection> collection(atspi_accessible_get_collection_iface(application));
  if (!collection) return nullptr;
  GObjectPointer<AtspiStateSet> focused(atspi_state_set_new(nullptr));
  atspi_state_set_add(focused.get(), ATSPI_STATE_FOCUSED);
  GObjectPointer<AtspiMatchRule> rule(atspi_match_rule_new(focused.get(), ATSPI_Collection_MATCH_ALL, nullptr,
                                                           ATSPI_Collection_MATCH_ALL, nullptr,
                                                           ATSPI_Collection_MATCH_ALL, nullptr,
                                                           ATSPI_Collection_MATCH_ALL, FALSE));
  CallError error;
  GArray* matches =
      atspi_collection_get_matches(collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error.out());
  if (matches == nullptr) return nullptr;
  GObjectPointer<AtspiAccessible> found;
  for (guint index = 0; index < matches->len; ++index) {
    auto* match = g_array_index(matches, AtspiAccessible*, index);
    if (!found) {
      found.reset(match);
    } else if (match != nullptr) {
      g_object_unref(match);
    }
  }
  g_array_free(matches, TRUE);
  return found;
}

// Breadth first, active windows first, skipping the insides of elements that manage huge numbers of
// descendants (tables, long lists), within fixed bounds.
GObjectPointer<AtspiAccessible> firstFocusedByWalk(AtspiAccessible* application) {
  std::deque<std::pair<GObjectPointer<AtspiAccessible>, int>> queue;
  CallError countError;
  const gint windows = std::min(atspi_accessible_get_child_count(application, countError.out()), kChildrenLimit);
  for (gint index = 0; index < windows; ++index) {
    CallError error;
    GObjectPointer<AtspiAccessible> window(atspi_accessible_get_child_at_index(application, index, error.out()));
    if (!window) continue;
    if (hasState(window.get(), ATSPI_STATE_ACTIVE)) {
      queue.emplace_front(std::move(window), 1);
    } else {
      queue.emplace_back(std::move(window), 1);
    }
  }
  for (int visited = 0; !queue.empty() && visited < kFocusSearchElements; ++visited) {
    auto [element, depth] = std::move(queue.front());
    queue.pop_front();
    GObjectPointer<AtspiStateSet> states(atspi_accessible_get_state_set(element.get()));
    if (states && atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) return std::move(element);
    if (depth >= kFocusSearchDepth || (states && atspi_state_set_contains(states.get(), ATSPI_STATE_MANAGES_DESCENDANTS))) {
      continue;
    }
    CallError error;
    const gint count = std::min(atspi_accessible_get_child_count(element.get(), error.out()), kChildrenLimit);
    for (gint index = 0; index < count; ++index) {
      CallError childError;
      GObjectPointer<AtspiAccessible> child(atspi_accessible_get_child_at_index(element.get(), index, childError.out()));
      if (child) queue.emplace_back(std::move(child), depth + 1);
    }
  }
  return nullptr;
}

// The top-level window holding `accessible`: its ancestor whose parent is the application.
GObjectPointer<AtspiAccessible> windowAround(AtspiAccessible* accessible) {
  GObjectPointer<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
  for (int step = 0; step < kAncestorLimit && current; ++step) {
    auto parent = parentOf(current.get());
    if (!parent) return nullptr;
    if (roleOf(parent.get()) == ATSPI_ROLE_APPLICATION) return current;
    current = std::move(parent);
  }
  return nullptr;
}

GObjectPointer<AtspiAccessible> activeWindowOf(AtspiAccessible* application) {
  CallError countError;
  const gint count = std::min(atspi_accessible_get_child_count(application, countError.out()), kChildrenLimit);
  for (gint index = 0; index < count; ++index) {
    CallError error;
    GObjectPointer<AtspiAccessible> window(atspi_accessible_get_child_at_index(application, index, error.out()));
    if (window && hasState(window.get(), ATSPI_STATE_ACTIVE)) return window;
  }
  return nullptr;
}

Expected<void, AXError> writeValue(AtspiAccessible* accessible, const AXAttributeValue& value) {
  const auto* text = std::get_if<std::string>(&value);
  if (text == nullptr) return AXError{AXErrorKind::illegalArgument, "AXValue takes text"};
  GObjectPointer<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(accessible));
  if (!editable || !hasState(accessible, ATSPI_STATE_EDITABLE)) {
    return AXError{AXErrorKind::notSettable, "the element's text is not editable"};
  }
  CallError error;
  const gboolean written = atspi_editable_text_set_text_contents(editable.get(), text->c_str(), error.out());
  if (!written || error.failed()) return AXError{AXErrorKind::cannotComplete, error.message()};
  return {};
}

// ---- Session bus ---------------------------------------------------------------------------------

std::optional<bool> statusFlag(DBusConnection* session, const char* property, int timeoutMilliseconds) {
  DBusMessage* call =
      dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get");
  if (call == nullptr) return std::nullopt;
  const char* interface = "org.a11y.Status";
  dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(session, call, timeoutMilliseconds, &error);
  dbus_message_unref(call);
  dbus_error_free(&error);
  if (reply == nullptr) return std::nullopt;
  std::optional<bool> flag;
  DBusMessageIter iterator;
  DBusMessageIter variant;
  if (dbus_message_iter_init(reply, &iterator) && dbus_message_iter_get_arg_type(&iterator) == DBUS_TYPE_VARIANT) {
    dbus_message_iter_recurse(&iterator, &variant);
    if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_BOOLEAN) {
      dbus_bool_t value = FALSE;
      dbus_message_iter_get_basic(&variant, &value);
      flag = value != FALSE;
    }
  }
  dbus_message_unref(reply);
  return flag;
}

// Runs `use` on a private connection to the session bus, so that a session bus going away never ends
// this process (the shared connection would exit on disconnect); false without a session bus.
bool withSessionBus(const std::function<void(DBusConnection*)>& use) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* session = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  dbus_error_free(&error);
  if (session == nullptr) return false;
  dbus_connection_set_exit_on_disconnect(session, FALSE);
  use(session);
  dbus_connection_close(session);
  dbus_connection_unref(session);
  return true;
}

// Whether the desktop has switched assistive technologies on: the AT-SPI bus launcher answers on the
// session bus and its status says enabled (or a screen reader runs). Toolkits other than GTK only
// expose their trees when it does.
bool accessibilityEnabled(int timeoutMilliseconds) {
  bool enabled = false;
  withSessionBus([&](DBusConnection* session) {
    enabled = statusFlag(session, "IsEnabled", timeoutMilliseconds).value_or(false) ||
              statusFlag(session, "ScreenReaderEnabled", timeoutMilliseconds).value_or(false);
  });
  return enabled;
}

// Whether libatspi will find the accessibility bus: given in the environment, or handed out by the
// bus launcher on the session bus.
bool accessibilityBusKnown(int timeoutMilliseconds) {
  if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); address != nullptr && *address != '\0') return true;
  bool known = false;
  withSessionBus([&](DBusConnection* session) {
    DBusMessage* call = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
    if (call == nullptr) return;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(session, call, timeoutMilliseconds, &error);
    dbus_message_unref(call);
    const char* address = nullptr;
    known = reply != nullptr && dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &address, DBUS_TYPE_INVALID) &&
            address != nullptr && *address != '\0';
    if (reply != nullptr) dbus_message_unref(reply);
    dbus_error_free(&error);
  });
  return known;
}

std::optional<int> processIdOfBusName(const std::string& busName, int timeoutMilliseconds) {
  DBusConnection* bus = atspi_get_a11y_bus();
  if (bus == nullptr || busName.empty()) return std::nullopt;
  DBusMessage* call = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                   "GetConnectionUnixProcessID");
  if (call == nullptr) return std::nullopt;
  const char* name = busName.c_str();
  dbus_message_append_args(call, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, timeoutMilliseconds, &error);
  dbus_message_unref(call);
  dbus_uint32_t processId = 0;
  const bool answered = reply != nullptr && dbus_message_get_args(reply, &error, DBUS_TYPE_UINT32, &processId, DBUS_TYPE_INVALID);
  if (reply != nullptr) dbus_message_unref(reply);
  dbus_error_free(&error);
  if (!answered) return std::nullopt;
  return static_cast<int>(processId);
}

struct EventFree {
  void operator()(AtspiEvent* event) const { g_boxed_free(ATSPI_TYPE_EVENT, event); }
};

}  // namespace

// ---- Implementation ------------------------------------------------------------------------------

class AtspiAccessibility::Implementation : public std::enable_shared_from_this<AtspiAccessibility::Implementation> {
 public:
  struct ObserverState {
    int processId = 0;
    AccessibilityObserver::Callback callback;
    std::vector<std::pair<AccessibilityElement, std::string>> registrations;
  };

  Implementation(MainLoop& mainLoop, std::chrono::milliseconds callTimeout)
      : mainLoop_(mainLoop), timeoutMilliseconds_(static_cast<int>(callTimeout.count())) {}

  ~Implementation() {
    drain_.cancel();
    preparationStep_.cancel();
    if (listener_) {
      for (const auto* type : kEventTypes) {
        CallError error;
        atspi_event_listener_deregister(listener_.get(), type, error.out());
      }
    }
  }

  Implementation(const Implementation&) = delete;
  Implementation& operator=(const Implementation&) = delete;

  bool isTrusted() { return accessibilityEnabled(timeoutMilliseconds_) && connect(); }

  // Connects libatspi once. A failed first connection leaves libatspi unusable for the life of the
  // process (later calls abort), so it is only tried once the accessibility bus is known.
  bool connect() {
    if (connected_ || connectionFailed_) return connected_;
    if (!accessibilityBusKnown(timeoutMilliseconds_)) return false;
    const int status = atspi_init();
    connected_ = status == 0 || status == 1;
    connectionFailed_ = !connected_;
    // Without a zero start-up allowance libatspi waits up to 15 s on applications it has just met.
    if (connected_) atspi_set_timeout(timeoutMilliseconds_, 0);
    return connected_;
  }

  // The element behind a handle, once connected; null for handles of other adapters.
  AtspiAccessible* accessibleOf(const AccessibilityElement& element) {
    const auto* reference = referenceOf(element);
    if (reference == nullptr || !connect()) return nullptr;
    return reference->accessible();
  }

  std::optional<int> processIdOf(const std::string& busName) {
    // Unique bus names are never reused, so an answer stays true.
    if (const auto* known = processIds_.find(busName)) return *known;
    const auto processId = processIdOfBusName(busName, timeoutMilliseconds_);
    if (processId) processIds_.set(busName, *processId);
    return processId;
  }

  AccessibilityElement applicationElement(int processId) {
    if (!connect()) return {};
    GObjectPointer<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return {};
    CallError countError;
    const gint count = std::min(atspi_accessible_get_child_count(desktop.get(), countError.out()), kApplicationsLimit);
    for (gint index = 0; index < count; ++index) {
      CallError error;
      auto application = takeElement(atspi_accessible_get_child_at_index(desktop.get(), index, error.out()));
      const auto* reference = referenceOf(application);
      if (reference != nullptr && processIdOf(reference->busName()) == processId) return application;
    }
    return {};
  }

  std::optional<AXAttributeValue> focusedElementOf(AtspiAccessible* application) {
    if (roleOf(application) != ATSPI_ROLE_APPLICATION) return std::nullopt;
    // The handle keeps the reference alive while it is read.
    const auto applicationHandle = borrowElement(application);
    const auto* reference = referenceOf(applicationHandle);
    if (reference != nullptr) {
      if (const auto* last = lastFocused_.find(reference->busName())) {
        auto candidate = *last;
        const auto* lastReference = referenceOf(candidate);
        if (lastReference != nullptr && hasState(lastReference->accessible(), ATSPI_STATE_FOCUSED)) return candidate;
      }
    }
    auto found = firstFocusedByCollection(application);
    if (!found) found = firstFocusedByWalk(application);
    if (!found) return std::nullopt;
    return takeElement(found.release());
  }

  std::optional<AXAttributeValue> focusedWindowOf(AtspiAccessible* application) {
    if (roleOf(application) != ATSPI_ROLE_APPLICATION) return std::nullopt;
    if (auto active = activeWindowOf(application)) return takeElement(active.release());
    const auto focused = focusedElementOf(application);
    const auto* element = focused ? std::get_if<AccessibilityElement>(&*focused) : nullptr;
    const auto* reference = element != nullptr ? referenceOf(*element) : nullptr;
    if (reference == nullptr) return std::nullopt;
    auto window = windowAround(reference->accessible());
    if (!window) return std::nullopt;
    return takeElement(window.release());
  }

  std::optional<AXAttributeValue> attribute(AtspiAccessible* accessible, const std::string& key, std::string_view name) {
    if (name == AXAttribute::role) return std::string(axRoleOfAccessible(accessible).role);
    if (name == AXAttribute::subrole) {
      const auto subrole = axRoleOfAccessible(accessible).subrole;
      if (subrole.empty()) return std::nullopt;
      return std::string(subrole);
    }
    if (name == AXAttribute::value) return valueOf(accessible);
    if (name == AXAttribute::selectedTextRange) {
      if (auto range = texts_.selectedTextRange(accessible, key)) return *range;
      return std::nullopt;
    }
    if (name == AXAttribute::selectedText) {
      if (auto selected = texts_.selectedText(accessible)) return *selected;
      return std::nullopt;
    }
    if (name == AXAttribute::numberOfCharacters) {
      if (const auto length = texts_.utf16Length(accessible, key)) return static_cast<double>(*length);
      return std::nullopt;
    }
    // GTK marks a widget SHOWING when it is mapped and VISIBLE when it is meant to show; a closed menu's
    // items and an unopened popover's rows are neither, though they stay in the tree.
    // The application itself is never drawn, so carries neither state, yet shows its windows.
    if (name == AXAttribute::hidden) {
      if (roleOf(accessible) == ATSPI_ROLE_APPLICATION) return false;
      return !(hasState(accessible, ATSPI_STATE_SHOWING) && hasState(accessible, ATSPI_STATE_VISIBLE));
    }
    if (name == AXAttribute::placeholderValue) {
      if (auto placeholder = objectAttribute(accessible, "placeholder-text")) return *placeholder;
      return std::nullopt;
    }
    if (name == AXAttribute::focused) return hasState(accessible, ATSPI_STATE_FOCUSED);
    if (name == AXAttribute::focusedUIElement) return focusedElementOf(accessible);
    if (name == AXAttribute::focusedWindow) return focusedWindowOf(accessible);
    if (name == AXAttribute::children) return childrenOf(accessible);
    if (name == AXAttribute::parent) return axParentOf(accessible);
    if (name == AXAttribute::position || name == AXAttribute::size) {
      const auto extents = extentsOf(accessible);
      if (!extents) return std::nullopt;
      if (name == AXAttribute::position) return extents->origin;
      return extents->size;
    }
    if (name == AXAttribute::title) {
      CallError error;
      if (auto title = takeText(atspi_accessible_get_name(accessible, error.out()))) return *title;
      return std::nullopt;
    }
    if (name == AXAttribute::description) {
      CallError error;
      if (auto description = takeText(atspi_accessible_get_description(accessible, error.out()))) return *description;
      return std::nullopt;
    }
    return std::nullopt;
  }

  std::vector<std::string> attributeNames(AtspiAccessible* accessible, const std::string& key) {
    std::vector<std::string> names{std::string(AXAttribute::role), std::string(AXAttribute::title),
                                   std::string(AXAttribute::description), std::string(AXAttribute::focused),
                                   std::string(AXAttribute::children)};
    const auto addWhenPresent = [&](std::string_view name) {
      if (attribute(accessible, key, name)) names.emplace_back(name);
    };
    for (const auto name : {AXAttribute::subrole, AXAttribute::parent, AXAttribute::placeholderValue}) addWhenPresent(name);
    if (GObjectPointer<AtspiComponent> component(atspi_accessible_get_component_iface(accessible)); component) {
      names.emplace_back(AXAttribute::position);
      names.emplace_back(AXAttribute::size);
    }
    GObjectPointer<AtspiText> text(atspi_accessible_get_text_iface(accessible));
    GObjectPointer<AtspiValue> value(atspi_accessible_get_value_iface(accessible));
    if (text || value) names.emplace_back(AXAttribute::value);
    if (text) {
      names.emplace_back(AXAttribute::selectedTextRange);
      names.emplace_back(AXAttribute::selectedText);
      names.emplace_back(AXAttribute::numberOfCharacters);
    }
    names.emplace_back(AXAttribute::hidden);
    if (roleOf(accessible) == ATSPI_ROLE_APPLICATION) {
      names.emplace_back(AXAttribute::focusedUIElement);
      names.emplace_back(AXAttribute::focusedWindow);
    }
    return names;
  }

  std::unique_ptr<AccessibilityObserver> createObserver(int processId, AccessibilityObserver::Callback callback);

  AtspiTextAccess& texts() { return texts_; }

 private:
  class Observer;
  static constexpr const char* kEventTypes[] = {"object:state-changed:focused", "object:text-changed"};

  void startListening() {
    if (listener_) return;
    listener_.reset(atspi_event_listener_new(&Implementation::onEvent, this, nullptr));
    for (const auto* type : kEventTypes) {
      CallError error;
      atspi_event_listener_register(listener_.get(), type, error.out());
    }
    texts_.setReceivingEvents(true);
    drain_ = mainLoop_.every(kDrainInterval, [this] {
      // Inside a GLib dispatch the main loop is GLib's, which services AT-SPI by itself.
      if (g_main_depth() > 0) {
        drain_.cancel();
        return;
      }
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
    });
  }

  static void onEvent(AtspiEvent* event, void* implementation) {
    std::unique_ptr<AtspiEvent, EventFree> owned(event);
    static_cast<Implementation*>(implementation)->route(*event);
  }

  // One step of mapping a long text per turn of the main loop, so that other work runs in between.
  void stepPreparation() {
    if (preparationStep_.isValid()) return;
    preparationStep_ = mainLoop_.after(0, [this] {
      preparationStep_ = {};
      if (texts_.continuePreparing()) stepPreparation();
    });
  }

  // Keeps the offset maps of long texts true without reading them again.
  void noteTextChange(std::string_view type, const AtspiEvent& event, const std::string& key) {
    if (type.starts_with("object:text-changed:insert")) {
      std::optional<std::string_view> inserted;
      if (G_VALUE_HOLDS_STRING(&event.any_data) && g_value_get_string(&event.any_data) != nullptr) {
        inserted = g_value_get_string(&event.any_data);
      }
      texts_.textInserted(key, event.detail1, event.detail2, inserted);
    } else if (type.starts_with("object:text-changed:delete")) {
      texts_.textDeleted(key, event.detail1, event.detail2);
    }
  }

  void route(const AtspiEvent& event) {
    const std::string_view type = event.type != nullptr ? event.type : "";
    std::string_view notification;
    if (type.starts_with("object:state-changed:focused")) {
      if (event.detail1 == 0) return;
      notification = AXNotification::focusedUIElementChanged;
    } else if (type.starts_with("object:text-changed")) {
      notification = AXNotification::valueChanged;
    } else {
      return;
    }
    const auto element = borrowElement(event.source);
    const auto* source = referenceOf(element);
    if (source == nullptr) return;
    if (notification == AXNotification::valueChanged) noteTextChange(type, event, source->key());
    if (notification == AXNotification::focusedUIElementChanged) lastFocused_.set(source->busName(), element);
    const auto processId = processIdOf(source->busName());
    if (!processId) return;
    for (const auto& weakState : observers_) {
      const auto state = weakState.lock();
      if (!state || state->processId != *processId) continue;
      const bool registered = std::any_of(state->registrations.begin(), state->registrations.end(), [&](const auto& entry) {
        const auto* target = referenceOf(entry.first);
        return entry.second == notification && target != nullptr &&
               (target->sameElement(*source) || (target->isApplicationRoot() && target->sameApplication(*source)));
      });
      if (!registered) continue;
      mainLoop_.post([weakState, element, name = std::string(notification)] {
        if (const auto live = weakState.lock()) live->callback(element, name);
      });
    }
  }

  MainLoop& mainLoop_;
  int timeoutMilliseconds_;
  bool connected_ = false;
  bool connectionFailed_ = false;
  // Applications come and go over a session, each under a new bus name: only the most recent are kept.
  static constexpr std::size_t kRememberedApplications = 64;
  RecentMap<std::string, int> processIds_{kRememberedApplications};
  RecentMap<std::string, AccessibilityElement> lastFocused_{kRememberedApplications};
  std::vector<std::weak_ptr<ObserverState>> observers_;
  GObjectPointer<AtspiEventListener> listener_;
  Timer drain_;
  AtspiTextAccess texts_{[this] { stepPreparation(); }};
  Timer preparationStep_;
};

class AtspiAccessibility::Implementation::Observer final : public AccessibilityObserver {
 public:
  Observer(std::weak_ptr<Implementation> owner, std::shared_ptr<ObserverState> state)
      : owner_(std::move(owner)), state_(std::move(state)) {}

  Expected<void, AXError> add(const AccessibilityElement& element, std::string_view notification) override {
    if (notification != AXNotification::focusedUIElementChanged && notification != AXNotification::valueChanged) {
      return AXError{AXErrorKind::attributeUnsupported, "unsupported notification " + std::string(notification)};
    }
    const auto owner = owner_.lock();
    if (!owner) return AXError{AXErrorKind::cannotComplete, "the accessibility connection has ended"};
    const auto* reference = referenceOf(element);
    if (reference == nullptr || owner->processIdOf(reference->busName()) != state_->processId) {
      return AXError{AXErrorKind::invalidElement, "element is not part of the observed application"};
    }
    auto& registrations = state_->registrations;
    const auto registered = std::find_if(registrations.begin(), registrations.end(), [&](const auto& entry) {
      return entry.first == element && entry.second == notification;
    });
    if (registered == registrations.end()) registrations.emplace_back(element, std::string(notification));
    return {};
  }

  void remove(const AccessibilityElement& element, std::string_view notification) override {
    std::erase_if(state_->registrations,
                  [&](const auto& entry) { return entry.first == element && entry.second == notification; });
  }

 private:
  // The observer may outlive the accessibility object that made it.
  std::weak_ptr<Implementation> owner_;
  std::shared_ptr<ObserverState> state_;
};

std::unique_ptr<AccessibilityObserver> AtspiAccessibility::Implementation::createObserver(
    int processId, AccessibilityObserver::Callback callback) {
  if (!connect()) return nullptr;
  startListening();
  auto state = std::make_shared<ObserverState>();
  state->processId = processId;
  state->callback = std::move(callback);
  std::erase_if(observers_, [](const auto& weakState) { return weakState.expired(); });
  observers_.push_back(state);
  return std::make_unique<Observer>(weak_from_this(), std::move(state));
}

// ---- The port ------------------------------------------------------------------------------------

AtspiAccessibility::AtspiAccessibility(MainLoop& mainLoop, std::chrono::milliseconds callTimeout)
    : implementation_(std::make_shared<Implementation>(mainLoop, callTimeout)) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isTrusted() { return implementation_->isTrusted(); }

AccessibilityElement AtspiAccessibility::applicationElement(int processId) {
  return implementation_->applicationElement(processId);
}

std::optional<int> AtspiAccessibility::processId(const AccessibilityElement& element) {
  const auto* reference = referenceOf(element);
  if (reference == nullptr || implementation_->accessibleOf(element) == nullptr) return std::nullopt;
  return implementation_->processIdOf(reference->busName());
}

std::optional<AXAttributeValue> AtspiAccessibility::attribute(const AccessibilityElement& element, std::string_view name) {
  auto* accessible = implementation_->accessibleOf(element);
  if (accessible == nullptr) return std::nullopt;
  return implementation_->attribute(accessible, referenceOf(element)->key(), name);
}

std::vector<std::string> AtspiAccessibility::attributeNames(const AccessibilityElement& element) {
  auto* accessible = implementation_->accessibleOf(element);
  if (accessible == nullptr) return {};
  return implementation_->attributeNames(accessible, referenceOf(element)->key());
}

bool AtspiAccessibility::isAttributeSettable(const AccessibilityElement& element, std::string_view name) {
  auto* accessible = implementation_->accessibleOf(element);
  if (accessible == nullptr || (name != AXAttribute::value && name != AXAttribute::selectedText)) return false;
  GObjectPointer<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(accessible));
  return editable && hasState(accessible, ATSPI_STATE_EDITABLE);
}

Expected<void, AXError> AtspiAccessibility::setAttribute(const AccessibilityElement& element, std::string_view name,
                                          const AXAttributeValue& value) {
  auto* accessible = implementation_->accessibleOf(element);
  if (accessible == nullptr) return AXError{AXErrorKind::invalidElement, "no accessible element"};
  if (name == AXAttribute::selectedText) {
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) return AXError{AXErrorKind::illegalArgument, "AXSelectedText takes text"};
    return implementation_->texts().replaceSelection(accessible, referenceOf(element)->key(), *text);
  }
  if (name != AXAttribute::value) {
    return AXError{AXErrorKind::attributeUnsupported, std::string(name) + " cannot be written over AT-SPI"};
  }
  return writeValue(accessible, value);
}

std::optional<AXAttributeValue> AtspiAccessibility::parameterizedAttribute(const AccessibilityElement& element,
                                                                           std::string_view name,
                                                                           const AXAttributeValue& parameter) {
  auto* accessible = implementation_->accessibleOf(element);
  const auto* range = std::get_if<AXTextRange>(&parameter);
  if (accessible == nullptr || range == nullptr) return std::nullopt;
  auto& texts = implementation_->texts();
  const std::string key = referenceOf(element)->key();
  std::optional<AXAttributeValue> answer;
  if (name == AXParameterizedAttribute::boundsForRange) {
    if (auto bounds = texts.boundsForRange(accessible, key, *range)) answer = *bounds;
  } else if (name == AXParameterizedAttribute::attributedStringForRange) {
    if (auto attributed = texts.attributedStringForRange(accessible, key, *range)) answer = std::move(*attributed);
  } else if (name == AXParameterizedAttribute::stringForRange) {
    if (auto piece = texts.stringForRange(accessible, key, *range)) answer = std::move(*piece);
  }
  return answer;
}

std::unique_ptr<AccessibilityObserver> AtspiAccessibility::createObserver(int processId,
                                                                          AccessibilityObserver::Callback callback) {
  return implementation_->createObserver(processId, std::move(callback));
}

}  // namespace quillet::platform::atspi
