#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result/Expected.h"
#include "platform/AXAttributeValue.h"
#include "platform/AccessibilityElement.h"

namespace quillet::platform {

// The attribute names this port answers; any other name reads as absent.
struct AXAttribute {
  static constexpr std::string_view role = "AXRole";
  static constexpr std::string_view subrole = "AXSubrole";
  static constexpr std::string_view value = "AXValue";
  static constexpr std::string_view selectedTextRange = "AXSelectedTextRange";
  // Read: the selected text, empty when only a caret shows. Written: replaces the selection (or
  // inserts at the caret) with the text, as typing does, and leaves the caret right after it.
  static constexpr std::string_view selectedText = "AXSelectedText";
  static constexpr std::string_view numberOfCharacters = "AXNumberOfCharacters";
  static constexpr std::string_view placeholderValue = "AXPlaceholderValue";
  static constexpr std::string_view focused = "AXFocused";
  static constexpr std::string_view focusedUIElement = "AXFocusedUIElement";
  static constexpr std::string_view focusedWindow = "AXFocusedWindow";
  static constexpr std::string_view children = "AXChildren";
  static constexpr std::string_view parent = "AXParent";
  static constexpr std::string_view position = "AXPosition";
  static constexpr std::string_view size = "AXSize";
  static constexpr std::string_view title = "AXTitle";
  static constexpr std::string_view help = "AXHelp";
  static constexpr std::string_view description = "AXDescription";
  // True when the element is not drawn now: the items of a closed menu, a popover that is not open,
  // a page of a stack that is not shown. Absent means shown.
  static constexpr std::string_view hidden = "AXHidden";
};

// Parameterised attributes: AXBoundsForRange takes an AXTextRange and answers an AXRect;
// AXAttributedStringForRange takes an AXTextRange and answers an AXAttributedText;
// AXStringForRange takes an AXTextRange and answers the text in it, as far as the text reaches, so
// that a long document can be read in pieces.
struct AXParameterizedAttribute {
  static constexpr std::string_view boundsForRange = "AXBoundsForRange";
  static constexpr std::string_view stringForRange = "AXStringForRange";
  static constexpr std::string_view attributedStringForRange = "AXAttributedStringForRange";
};

struct AXNotification {
  static constexpr std::string_view focusedUIElementChanged = "AXFocusedUIElementChanged";
  static constexpr std::string_view valueChanged = "AXValueChanged";
};

enum class AXErrorKind {
  invalidElement,        // no element, or the element or its application is gone
  attributeUnsupported,  // the element has no such attribute
  notSettable,           // the attribute exists but cannot be written
  illegalArgument,       // the value has the wrong type for the attribute
  cannotComplete,        // the application did not answer in time or refused the request
};

// What a write answers when it fails: the error the accessibility service gave.
struct AXError {
  AXErrorKind kind = AXErrorKind::cannotComplete;
  std::string description;
};

// Notifications of one application. Destroying the observer ends every registration;
// no callback runs after that.
class AccessibilityObserver {
 public:
  // Runs on the main loop with the element the notification is about and the notification's name.
  using Callback = std::function<void(const AccessibilityElement& element, const std::string& notification)>;

  virtual ~AccessibilityObserver() = default;

  // Delivers `notification` for `element`; registered on the application element it covers every
  // element of the application. Registering twice is harmless.
  virtual Expected<void, AXError> add(const AccessibilityElement& element, std::string_view notification) = 0;

  virtual void remove(const AccessibilityElement& element, std::string_view notification) = 0;
};

// The accessibility client: elements of other applications, their attributes in the AX vocabulary
// (roles such as "AXTextField", top-left screen coordinates) and their notifications.
// Main thread only. Failures read as absent values; writes answer their error.
class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // Whether this process may use accessibility: the service is reachable and switched on.
  virtual bool isTrusted() = 0;

  // The application element of the process; "no element" when the process exposes none.
  virtual AccessibilityElement applicationElement(int processId) = 0;

  // The process owning `element`; nothing when it cannot be told.
  virtual std::optional<int> processId(const AccessibilityElement& element) = 0;

  virtual std::optional<AXAttributeValue> attribute(const AccessibilityElement& element, std::string_view name) = 0;

  // The names of the attributes `element` has, as attribute() answers them.
  virtual std::vector<std::string> attributeNames(const AccessibilityElement& element) = 0;

  virtual bool isAttributeSettable(const AccessibilityElement& element, std::string_view name) = 0;

  virtual Expected<void, AXError> setAttribute(const AccessibilityElement& element, std::string_view name,
                                const AXAttributeValue& value) = 0;

  virtual std::optional<AXAttributeValue> parameterizedAttribute(const AccessibilityElement& element,
                                                                 std::string_view name,
                                                                 const AXAttributeValue& parameter) = 0;

  // An observer of the process's notifications; null when it cannot be created.
  virtual std::unique_ptr<AccessibilityObserver> createObserver(int processId,
                                                                AccessibilityObserver::Callback callback) = 0;

  // The attribute when it holds a `T`; absent when missing or of another type.
  template <class T>
  std::optional<T> typedAttribute(const AccessibilityElement& element, std::string_view name) {
    auto value = attribute(element, name);
    if (!value) return std::nullopt;
    if (auto* held = std::get_if<T>(&*value)) return std::move(*held);
    return std::nullopt;
  }
};

}  // namespace quillet::platform
