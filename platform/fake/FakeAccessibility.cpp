#include "platform/fake/FakeAccessibility.h"

#include <algorithm>

namespace quillet::platform::fake {

namespace {

class FakeElementReference final : public AccessibilityElementReference {
 public:
  FakeElementReference(const FakeAccessibility* tree, std::uint64_t elementId) : owner(tree), id(elementId) {}

  [[nodiscard]] bool sameElement(const AccessibilityElementReference& other) const override {
    const auto* fake = dynamic_cast<const FakeElementReference*>(&other);
    return fake != nullptr && fake->owner == owner && fake->id == id;
  }

  const FakeAccessibility* owner;
  std::uint64_t id;
};

// UTF-8 bytes of the character that begins with `leadByte`.
std::size_t sequenceLength(unsigned char leadByte) {
  if (leadByte < 0x80) return 1;
  if ((leadByte >> 5) == 0x6) return 2;
  if ((leadByte >> 4) == 0xE) return 3;
  return 4;
}

// Characters beyond the Basic Multilingual Plane, four bytes in UTF-8, take two UTF-16 units.
std::int64_t utf16Units(std::size_t sequenceBytes) { return sequenceBytes == 4 ? 2 : 1; }

std::int64_t utf16Length(std::string_view text) {
  std::int64_t units = 0;
  for (std::size_t byte = 0; byte < text.size(); byte += sequenceLength(static_cast<unsigned char>(text[byte]))) {
    units += utf16Units(sequenceLength(static_cast<unsigned char>(text[byte])));
  }
  return units;
}

// The byte offset of a UTF-16 offset; nothing when it lies beyond the text or inside a character.
std::optional<std::size_t> byteOffsetOf(std::string_view text, std::int64_t utf16Offset) {
  std::int64_t units = 0;
  std::size_t byte = 0;
  while (units < utf16Offset && byte < text.size()) {
    const std::size_t length = sequenceLength(static_cast<unsigned char>(text[byte]));
    units += utf16Units(length);
    byte += length;
  }
  if (units != utf16Offset) return std::nullopt;
  return std::min(byte, text.size());
}

bool isWindow(const FakeElementSpec& spec) { return spec.role == "AXWindow"; }

// The byte offset of a UTF-16 offset within the text; one inside a surrogate pair moves to the start of
// its character, or past it when `roundUp`.
std::size_t roundedByteOffsetOf(std::string_view text, std::int64_t utf16Offset, bool roundUp) {
  std::int64_t units = 0;
  std::size_t byte = 0;
  while (byte < text.size()) {
    const std::size_t length = sequenceLength(static_cast<unsigned char>(text[byte]));
    const std::int64_t next = units + utf16Units(length);
    if (next > utf16Offset && !(roundUp && units < utf16Offset)) break;
    units = next;
    byte += length;
  }
  return std::min(byte, text.size());
}

// The byte range of a UTF-16 range, cut back to the text's end, never splitting a character.
std::pair<std::size_t, std::size_t> clampedByteRange(std::string_view text, AXTextRange range) {
  const std::int64_t length = utf16Length(text);
  const std::int64_t begin = std::clamp<std::int64_t>(range.location, 0, length);
  const std::int64_t end = std::clamp<std::int64_t>(range.location + std::max<std::int64_t>(range.length, 0), begin, length);
  return {roundedByteOffsetOf(text, begin, false), roundedByteOffsetOf(text, end, true)};
}

// What a write answers when it does not change the element: a read-only attribute's error, the
// application's refusal, or the success of an application that drops the write; nothing when it lands.
std::optional<Expected<void, AXError>> refusalOf(const FakeElementSpec& spec, bool settable, std::string_view name) {
  if (!settable) return AXError{AXErrorKind::notSettable, std::string(name) + " is read-only"};
  switch (spec.writeBehaviour) {
    case FakeWriteBehaviour::refuse:
      return AXError{AXErrorKind::cannotComplete, "the application refused the write"};
    case FakeWriteBehaviour::ignore:
      return Expected<void, AXError>();
    case FakeWriteBehaviour::accept:
      break;
  }
  return std::nullopt;
}

}  // namespace

struct FakeAccessibility::ObserverState {
  int processId = 0;
  AccessibilityObserver::Callback callback;
  std::vector<std::pair<std::uint64_t, std::string>> registrations;
};

class FakeAccessibility::Observer final : public AccessibilityObserver {
 public:
  Observer(FakeAccessibility& owner, std::shared_ptr<ObserverState> state) : owner_(owner), state_(std::move(state)) {}

  Expected<void, AXError> add(const AccessibilityElement& element, std::string_view notification) override {
    const auto id = owner_.idOf(element);
    if (!id || owner_.nodes_.at(*id).processId != state_->processId) {
      return AXError{AXErrorKind::invalidElement, "element is not part of the observed application"};
    }
    const std::pair<std::uint64_t, std::string> registration{*id, std::string(notification)};
    auto& registrations = state_->registrations;
    if (std::find(registrations.begin(), registrations.end(), registration) == registrations.end()) {
      registrations.push_back(registration);
    }
    return {};
  }

  void remove(const AccessibilityElement& element, std::string_view notification) override {
    const auto id = owner_.idOf(element);
    if (!id) return;
    std::erase_if(state_->registrations,
                  [&](const auto& registration) { return registration.first == *id && registration.second == notification; });
  }

 private:
  FakeAccessibility& owner_;
  std::shared_ptr<ObserverState> state_;
};

FakeAccessibility::FakeAccessibility(MainLoop& mainLoop) : mainLoop_(mainLoop) {}

FakeAccessibility::~FakeAccessibility() = default;

AccessibilityElement FakeAccessibility::addApplication(int processId, FakeElementSpec spec) {
  const std::uint64_t id = nextId_++;
  nodes_[id] = Node{.spec = std::move(spec), .processId = processId};
  applications_[processId] = id;
  return handleOf(id);
}

AccessibilityElement FakeAccessibility::addElement(const AccessibilityElement& parent, FakeElementSpec spec) {
  const auto parentId = idOf(parent);
  if (!parentId) return {};
  const std::uint64_t id = nextId_++;
  nodes_[id] = Node{.spec = std::move(spec), .processId = nodes_.at(*parentId).processId, .parent = *parentId};
  nodes_.at(*parentId).children.push_back(id);
  return handleOf(id);
}

void FakeAccessibility::removeElement(const AccessibilityElement& element) {
  const auto id = idOf(element);
  if (!id) return;
  std::vector<std::uint64_t> doomed{*id};
  for (std::size_t index = 0; index < doomed.size(); ++index) {
    const auto& children = nodes_.at(doomed[index]).children;
    doomed.insert(doomed.end(), children.begin(), children.end());
  }
  if (const auto parent = nodes_.at(*id).parent) std::erase(nodes_.at(*parent).children, *id);
  for (const auto gone : doomed) {
    nodes_.erase(gone);
    std::erase_if(focused_, [&](const auto& entry) { return entry.second == gone; });
    std::erase_if(focusedWindows_, [&](const auto& entry) { return entry.second == gone; });
    std::erase_if(applications_, [&](const auto& entry) { return entry.second == gone; });
  }
}

void FakeAccessibility::setTrusted(bool trusted) { trusted_ = trusted; }

void FakeAccessibility::setObserversAvailable(bool available) { observersAvailable_ = available; }

void FakeAccessibility::focus(const AccessibilityElement& element) {
  const auto id = idOf(element);
  if (!id) return;
  focused_[nodes_.at(*id).processId] = *id;
  notify(*id, AXNotification::focusedUIElementChanged);
}

void FakeAccessibility::clearFocus(int processId) { focused_.erase(processId); }

void FakeAccessibility::setFocusedWindow(int processId, const AccessibilityElement& window) {
  if (const auto id = idOf(window)) focusedWindows_[processId] = *id;
}

void FakeAccessibility::typeValue(const AccessibilityElement& element, std::string value) {
  auto* node = nodeOf(element);
  if (node == nullptr) return;
  node->spec.value = std::move(value);
  notify(*idOf(element), AXNotification::valueChanged);
}

void FakeAccessibility::setSelectedTextRange(const AccessibilityElement& element, AXTextRange range) {
  if (auto* node = nodeOf(element)) node->spec.selectedTextRange = range;
}

void FakeAccessibility::setBoundsForRange(const AccessibilityElement& element, AXTextRange range, AXRect bounds) {
  if (auto* node = nodeOf(element)) node->boundsForRange[{range.location, range.length}] = bounds;
}

int FakeAccessibility::readCount(const AccessibilityElement& element, std::string_view name) const {
  const auto* node = nodeOf(element);
  if (node == nullptr) return 0;
  const auto found = node->readCounts.find(name);
  return found == node->readCounts.end() ? 0 : found->second;
}

std::vector<std::string> FakeAccessibility::writtenValues(const AccessibilityElement& element) const {
  const auto* node = nodeOf(element);
  return node == nullptr ? std::vector<std::string>{} : node->writtenValues;
}

std::vector<std::string> FakeAccessibility::writtenSelections(const AccessibilityElement& element) const {
  const auto* node = nodeOf(element);
  return node == nullptr ? std::vector<std::string>{} : node->writtenSelections;
}

std::optional<std::string> FakeAccessibility::valueOf(const AccessibilityElement& element) const {
  const auto* node = nodeOf(element);
  return node == nullptr ? std::nullopt : node->spec.value;
}

int FakeAccessibility::registrationCount(const AccessibilityElement& element, std::string_view notification) const {
  const auto id = idOf(element);
  if (!id) return 0;
  int count = 0;
  for (const auto& weakState : observers_) {
    if (const auto state = weakState.lock()) {
      count += static_cast<int>(std::count_if(state->registrations.begin(), state->registrations.end(), [&](const auto& entry) {
        return entry.first == *id && entry.second == notification;
      }));
    }
  }
  return count;
}

bool FakeAccessibility::isTrusted() { return trusted_; }

AccessibilityElement FakeAccessibility::applicationElement(int processId) {
  const auto id = applicationOf(processId);
  return id ? handleOf(*id) : AccessibilityElement{};
}

std::optional<int> FakeAccessibility::processId(const AccessibilityElement& element) {
  const auto* node = nodeOf(element);
  if (node == nullptr) return std::nullopt;
  return node->processId;
}

std::optional<AXAttributeValue> FakeAccessibility::attribute(const AccessibilityElement& element, std::string_view name) {
  auto* node = nodeOf(element);
  if (node == nullptr) return std::nullopt;
  ++node->readCounts[std::string(name)];
  if (auto value = standardAttribute(*idOf(element), *node, name)) return value;
  const auto other = node->spec.otherAttributes.find(name);
  if (other == node->spec.otherAttributes.end()) return std::nullopt;
  return other->second;
}

std::optional<AXAttributeValue> FakeAccessibility::standardAttribute(std::uint64_t id, const Node& node,
                                                                     std::string_view name) const {
  const auto& spec = node.spec;
  const bool isApplication = applicationOf(node.processId) == id;
  const auto text = [](const std::optional<std::string>& field) -> std::optional<AXAttributeValue> {
    if (!field) return std::nullopt;
    return *field;
  };
  if (name == AXAttribute::role) return spec.role;
  if (name == AXAttribute::subrole) return text(spec.subrole);
  if (name == AXAttribute::value) return text(spec.value);
  if (name == AXAttribute::placeholderValue) return text(spec.placeholder);
  if (name == AXAttribute::title) return text(spec.title);
  if (name == AXAttribute::help) return text(spec.help);
  if (name == AXAttribute::description) return text(spec.description);
  if (name == AXAttribute::numberOfCharacters && spec.value) return static_cast<double>(utf16Length(*spec.value));
  if (name == AXAttribute::selectedTextRange && spec.selectedTextRange) return *spec.selectedTextRange;
  if (name == AXAttribute::selectedText && spec.value && spec.selectedTextRange) {
    const auto [begin, end] = clampedByteRange(*spec.value, *spec.selectedTextRange);
    return spec.value->substr(begin, end - begin);
  }
  if (name == AXAttribute::hidden && spec.hidden) return *spec.hidden;
  if (name == AXAttribute::position && spec.frame) return spec.frame->origin;
  if (name == AXAttribute::size && spec.frame) return spec.frame->size;
  if (name == AXAttribute::focused) {
    const auto focused = focused_.find(node.processId);
    return focused != focused_.end() && focused->second == id;
  }
  if (name == AXAttribute::parent && node.parent) return handleOf(*node.parent);
  if (name == AXAttribute::children) {
    AXElementList children;
    for (const auto child : node.children) children.push_back(handleOf(child));
    return children;
  }
  if (name == AXAttribute::focusedUIElement && isApplication) {
    const auto focused = focused_.find(node.processId);
    if (focused == focused_.end()) return std::nullopt;
    return handleOf(focused->second);
  }
  if (name == AXAttribute::focusedWindow && isApplication) {
    const auto window = focusedWindowOf(node.processId);
    if (!window) return std::nullopt;
    return handleOf(*window);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> FakeAccessibility::focusedWindowOf(int processId) const {
  if (const auto chosen = focusedWindows_.find(processId); chosen != focusedWindows_.end()) return chosen->second;
  const auto focused = focused_.find(processId);
  if (focused == focused_.end()) return std::nullopt;
  for (std::optional<std::uint64_t> id = focused->second; id; id = nodes_.at(*id).parent) {
    if (isWindow(nodes_.at(*id).spec)) return id;
  }
  return std::nullopt;
}

std::vector<std::string> FakeAccessibility::attributeNames(const AccessibilityElement& element) {
  const auto* node = nodeOf(element);
  if (node == nullptr) return {};
  static constexpr std::string_view kNames[] = {
      AXAttribute::role,        AXAttribute::subrole,          AXAttribute::value,
      AXAttribute::selectedTextRange, AXAttribute::numberOfCharacters, AXAttribute::placeholderValue,
      AXAttribute::focused,     AXAttribute::focusedUIElement, AXAttribute::focusedWindow,
      AXAttribute::children,    AXAttribute::parent,           AXAttribute::position,
      AXAttribute::size,        AXAttribute::title,            AXAttribute::help,
      AXAttribute::description, AXAttribute::selectedText, AXAttribute::hidden};
  std::vector<std::string> names;
  const auto id = *idOf(element);
  for (const auto name : kNames) {
    if (standardAttribute(id, *node, name) || node->spec.otherAttributes.contains(name)) names.emplace_back(name);
  }
  for (const auto& [name, value] : node->spec.otherAttributes) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

bool FakeAccessibility::isAttributeSettable(const AccessibilityElement& element, std::string_view name) {
  const auto* node = nodeOf(element);
  return node != nullptr && (name == AXAttribute::value || name == AXAttribute::selectedText) && node->spec.valueSettable;
}

Expected<void, AXError> FakeAccessibility::setAttribute(const AccessibilityElement& element, std::string_view name,
                                         const AXAttributeValue& value) {
  auto* node = nodeOf(element);
  if (node == nullptr) return AXError{AXErrorKind::invalidElement, "no such element"};
  if (name != AXAttribute::value && name != AXAttribute::selectedText) {
    return AXError{AXErrorKind::attributeUnsupported, std::string(name)};
  }
  const auto* text = std::get_if<std::string>(&value);
  if (text == nullptr) return AXError{AXErrorKind::illegalArgument, std::string(name) + " takes text"};
  if (name == AXAttribute::selectedText) return replaceSelection(*idOf(element), *node, *text);
  node->writtenValues.push_back(*text);
  if (auto refused = refusalOf(node->spec, node->spec.valueSettable, name)) return std::move(*refused);
  node->spec.value = *text;
  notify(*idOf(element), AXNotification::valueChanged);
  return {};
}

// As AX does: the selection (or the caret; the end without either) gives way to the text, and the
// caret follows it.
Expected<void, AXError> FakeAccessibility::replaceSelection(std::uint64_t id, Node& node, const std::string& text) {
  node.writtenSelections.push_back(text);
  if (auto refused = refusalOf(node.spec, node.spec.valueSettable && node.spec.value, AXAttribute::selectedText)) {
    return std::move(*refused);
  }
  std::string& value = *node.spec.value;
  const AXTextRange selection = node.spec.selectedTextRange.value_or(AXTextRange{utf16Length(value), 0});
  const auto [begin, end] = clampedByteRange(value, selection);
  value.replace(begin, end - begin, text);
  node.spec.selectedTextRange = AXTextRange{utf16Length(std::string_view(value).substr(0, begin + text.size())), 0};
  notify(id, AXNotification::valueChanged);
  return {};
}

std::optional<AXAttributeValue> FakeAccessibility::parameterizedAttribute(const AccessibilityElement& element,
                                                                          std::string_view name,
                                                                          const AXAttributeValue& parameter) {
  auto* node = nodeOf(element);
  const auto* range = std::get_if<AXTextRange>(&parameter);
  if (node == nullptr || range == nullptr) return std::nullopt;
  ++node->readCounts[std::string(name)];
  if (name == AXParameterizedAttribute::boundsForRange) {
    const auto bounds = node->boundsForRange.find({range->location, range->length});
    if (bounds == node->boundsForRange.end()) return std::nullopt;
    return bounds->second;
  }
  if (name == AXParameterizedAttribute::stringForRange && node->spec.value) {
    if (range->location < 0 || range->length < 0) return std::nullopt;
    const auto [begin, end] = clampedByteRange(*node->spec.value, *range);
    return node->spec.value->substr(begin, end - begin);
  }
  if (name == AXParameterizedAttribute::attributedStringForRange && node->spec.value) {
    const std::string_view value = *node->spec.value;
    const auto begin = byteOffsetOf(value, range->location);
    const auto end = byteOffsetOf(value, range->location + range->length);
    if (range->location < 0 || range->length < 0 || !begin || !end) return std::nullopt;
    return AXAttributedText{std::string(value.substr(*begin, *end - *begin)), node->spec.fontFamily,
                            node->spec.fontSize};
  }
  return std::nullopt;
}

std::unique_ptr<AccessibilityObserver> FakeAccessibility::createObserver(int processId,
                                                                         AccessibilityObserver::Callback callback) {
  if (!observersAvailable_ || !applicationOf(processId)) return nullptr;
  auto state = std::make_shared<ObserverState>();
  state->processId = processId;
  state->callback = std::move(callback);
  std::erase_if(observers_, [](const auto& weakState) { return weakState.expired(); });
  observers_.push_back(state);
  return std::make_unique<Observer>(*this, std::move(state));
}

void FakeAccessibility::notify(std::uint64_t id, std::string_view notification) {
  const int processId = nodes_.at(id).processId;
  const auto application = applicationOf(processId);
  for (const auto& weakState : observers_) {
    const auto state = weakState.lock();
    if (!state || state->processId != processId) continue;
    const bool registered = std::any_of(state->registrations.begin(), state->registrations.end(), [&](const auto& entry) {
      return entry.second == notification && (entry.first == id || entry.first == application);
    });
    if (!registered) continue;
    mainLoop_.post([weakState, element = handleOf(id), name = std::string(notification)] {
      if (const auto live = weakState.lock()) live->callback(element, name);
    });
  }
}

AccessibilityElement FakeAccessibility::handleOf(std::uint64_t id) const {
  return AccessibilityElement(std::make_shared<FakeElementReference>(this, id));
}

std::optional<std::uint64_t> FakeAccessibility::idOf(const AccessibilityElement& element) const {
  const auto* reference = dynamic_cast<const FakeElementReference*>(element.reference());
  if (reference == nullptr || reference->owner != this || !nodes_.contains(reference->id)) return std::nullopt;
  return reference->id;
}

FakeAccessibility::Node* FakeAccessibility::nodeOf(const AccessibilityElement& element) {
  const auto id = idOf(element);
  return id ? &nodes_.at(*id) : nullptr;
}

const FakeAccessibility::Node* FakeAccessibility::nodeOf(const AccessibilityElement& element) const {
  const auto id = idOf(element);
  return id ? &nodes_.at(*id) : nullptr;
}

std::optional<std::uint64_t> FakeAccessibility::applicationOf(int processId) const {
  const auto found = applications_.find(processId);
  if (found == applications_.end()) return std::nullopt;
  return found->second;
}

}  // namespace quillet::platform::fake
