#include "platform/linux/x11/X11ApplicationActivation.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::platform::x11 {

namespace {

// XCB replies are malloc'ed and freed by the caller.
template <class Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

template <class Reply>
ReplyPointer<Reply> owned(Reply* reply) {
  return ReplyPointer<Reply>(reply, &std::free);
}

xcb_atom_t atom(xcb_connection_t* connection, std::string_view name) {
  const auto reply = owned(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.data()), nullptr));
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The 32-bit values of a property; empty when it is unset or of another type.
std::vector<uint32_t> cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                xcb_atom_t type) {
  if (property == XCB_ATOM_NONE) return {};
  const auto reply = owned(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, property, type, 0, 4096), nullptr));
  if (!reply || reply->type != type || reply->format != 32) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

bool isViewable(xcb_connection_t* connection, xcb_window_t window) {
  const auto reply = owned(
      xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr));
  return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

}  // namespace

X11ApplicationActivation::X11ApplicationActivation(std::string displayName) : displayName_(std::move(displayName)) {}

X11ApplicationActivation::~X11ApplicationActivation() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

bool X11ApplicationActivation::connect() {
  if (connection_ != nullptr && xcb_connection_has_error(connection_) == 0) return true;
  if (connection_ != nullptr) xcb_disconnect(connection_);
  int screenNumber = 0;
  connection_ = xcb_connect(displayName_.empty() ? nullptr : displayName_.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection_) != 0) return false;
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int index = 0; index < screenNumber && screens.rem > 0; ++index) xcb_screen_next(&screens);
  if (screens.rem == 0) return false;
  root_ = screens.data->root;
  return true;
}

// Windows are listed bottom to top, by the window manager's stacking list when there is one,
// else by the root's children; the first from the top that belongs to the process wins.
std::optional<unsigned int> X11ApplicationActivation::topmostWindowOf(int processId) {
  const xcb_atom_t processIdAtom = atom(connection_, "_NET_WM_PID");
  std::vector<uint32_t> windows =
      cardinals(connection_, root_, atom(connection_, "_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
  if (windows.empty()) {
    const auto tree = owned(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
    if (!tree) return std::nullopt;
    const auto* children = xcb_query_tree_children(tree.get());
    windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
  }
  for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
    const auto owner = cardinals(connection_, *window, processIdAtom, XCB_ATOM_CARDINAL);
    if (!owner.empty() && owner.front() == static_cast<uint32_t>(processId) && isViewable(connection_, *window)) {
      return *window;
    }
  }
  return std::nullopt;
}

bool X11ApplicationActivation::windowManagerActivates() {
  const auto supported = cardinals(connection_, root_, atom(connection_, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
  const xcb_atom_t activeWindow = atom(connection_, "_NET_ACTIVE_WINDOW");
  return std::find(supported.begin(), supported.end(), activeWindow) != supported.end();
}

void X11ApplicationActivation::activate(int processId) {
  if (!connect()) return;
  if (const auto window = topmostWindowOf(processId)) activateTopLevel(*window);
}

void X11ApplicationActivation::activateWindow(std::uint64_t windowId) {
  if (!connect()) return;
  const auto window = static_cast<xcb_window_t>(windowId);
  if (windowId != window || !isViewable(connection_, window)) return;
  activateTopLevel(window);
}

void X11ApplicationActivation::activateTopLevel(unsigned int window) {
  if (windowManagerActivates()) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(connection_, "_NET_ACTIVE_WINDOW");
    // Source 2 is a pager: the user asked for the switch, so focus-stealing prevention does not apply.
    message.data.data32[0] = 2;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
  } else {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
  }
  xcb_flush(connection_);
}

}  // namespace quillet::platform::x11
