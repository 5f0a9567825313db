#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/MainLoop.h"

namespace quillet::platform::fake {

// What an element does with a write of its AXValue or its AXSelectedText.
enum class FakeWriteBehaviour {
  accept,  // takes the value and sends AXValueChanged
  refuse,  // answers an error and keeps its value
  ignore,  // answers success but keeps its value, as applications that drop AX writes do
};

// One element as a test describes it. Absent fields read as absent attributes.
struct FakeElementSpec {
  std::string role{};
  std::optional<std::string> subrole{};
  std::optional<std::string> value{};
  std::optional<std::string> placeholder{};
  std::optional<std::string> title{};
  std::optional<std::string> help{};
  std::optional<std::string> description{};
  std::optional<AXRect> frame{};  // answers AXPosition and AXSize
  std::optional<bool> hidden{};   // answers AXHidden
  std::optional<AXTextRange> selectedTextRange{};
  std::optional<std::string> fontFamily{};  // with fontSize, what AXAttributedStringForRange tells
  std::optional<double> fontSize{};
  bool valueSettable = false;
  FakeWriteBehaviour writeBehaviour = FakeWriteBehaviour::accept;
  // Any other attribute, or a value of another type (a number as AXValue); read after the fields above.
  std::map<std::string, AXAttributeValue, std::less<>> otherAttributes{};
};

// An accessibility tree in memory that tests build and script: applications by process id,
// elements with their attributes, focus per application, writes that land, fail or are dropped,
// and notifications delivered through the main loop as the real service delivers them.
// Observers must not outlive it.
class FakeAccessibility final : public Accessibility {
 public:
  explicit FakeAccessibility(MainLoop& mainLoop);
  ~FakeAccessibility() override;

  FakeAccessibility(const FakeAccessibility&) = delete;
  FakeAccessibility& operator=(const FakeAccessibility&) = delete;

  // Building the tree.
  AccessibilityElement addApplication(int processId, FakeElementSpec spec = {.role = "AXApplication"});
  AccessibilityElement addElement(const AccessibilityElement& parent, FakeElementSpec spec);
  // The element and its descendants are gone: reads answer absent, writes fail.
  void removeElement(const AccessibilityElement& element);

  // Scripting what the applications and the user do.
  void setTrusted(bool trusted);
  void setObserversAvailable(bool available);
  // Keyboard focus moves to `element` inside its application; AXFocusedUIElementChanged follows.
  void focus(const AccessibilityElement& element);
  void clearFocus(int processId);
  // AXFocusedWindow of the application; without one it is the window around the focused element.
  void setFocusedWindow(int processId, const AccessibilityElement& window);
  // The user changes the element's text; AXValueChanged follows.
  void typeValue(const AccessibilityElement& element, std::string value);
  void setSelectedTextRange(const AccessibilityElement& element, AXTextRange range);
  // What AXBoundsForRange answers for exactly this range; other ranges answer absent.
  void setBoundsForRange(const AccessibilityElement& element, AXTextRange range, AXRect bounds);

  // What the code under test did.
  [[nodiscard]] int readCount(const AccessibilityElement& element, std::string_view name) const;
  [[nodiscard]] std::vector<std::string> writtenValues(const AccessibilityElement& element) const;
  // The texts written to AXSelectedText, in order.
  [[nodiscard]] std::vector<std::string> writtenSelections(const AccessibilityElement& element) const;
  [[nodiscard]] std::optional<std::string> valueOf(const AccessibilityElement& element) const;
  [[nodiscard]] int registrationCount(const AccessibilityElement& element, std::string_view notification) const;

  // Accessibility
  bool isTrusted() override;
  AccessibilityElement applicationElement(int processId) override;
  std::optional<int> processId(const AccessibilityElement& element) override;
  std::optional<AXAttributeValue> attribute(const AccessibilityElement& element, std::string_view name) override;
  std::vector<std::string> attributeNames(const AccessibilityElement& element) override;
  bool isAttributeSettable(const AccessibilityElement& element, std::string_view name) override;
  Expected<void, AXError> setAttribute(const AccessibilityElement& element, std::string_view name,
                        const AXAttributeValue& value) override;
  std::optional<AXAttributeValue> parameterizedAttribute(const AccessibilityElement& element, std::string_view name,
                                                         const AXAttributeValue& parameter) override;
  std::unique_ptr<AccessibilityObserver> createObserver(int processId,
                                                        AccessibilityObserver::Callback callback) override;

 private:
  class Observer;
  struct ObserverState;
  struct Node {
    FakeElementSpec spec{};
    int processId = 0;
    std::optional<std::uint64_t> parent{};
    std::vector<std::uint64_t> children{};
    std::map<std::string, int, std::less<>> readCounts{};
    std::vector<std::string> writtenValues{};
    std::vector<std::string> writtenSelections{};
    std::map<std::pair<std::int64_t, std::int64_t>, AXRect> boundsForRange{};
  };

  AccessibilityElement handleOf(std::uint64_t id) const;
  std::optional<std::uint64_t> idOf(const AccessibilityElement& element) const;
  Node* nodeOf(const AccessibilityElement& element);
  const Node* nodeOf(const AccessibilityElement& element) const;
  std::optional<std::uint64_t> applicationOf(int processId) const;
  std::optional<AXAttributeValue> standardAttribute(std::uint64_t id, const Node& node, std::string_view name) const;
  std::optional<std::uint64_t> focusedWindowOf(int processId) const;
  void notify(std::uint64_t id, std::string_view notification);
  Expected<void, AXError> replaceSelection(std::uint64_t id, Node& node, const std::string& text);

  MainLoop& mainLoop_;
  bool trusted_ = true;
  bool observersAvailable_ = true;
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, Node> nodes_;
  std::map<int, std::uint64_t> applications_;
  std::map<int, std::uint64_t> focused_;
  std::map<int, std::uint64_t> focusedWindows_;
  std::vector<std::weak_ptr<ObserverState>> observers_;
};

}  // namespace quillet::platform::fake
