// The HUD's window side: showing, placing, dragging and dismissing the panel, the no-target prompt, the tabs and the
// keys.
#include <algorithm>
#include <utility>

#include "common/runtime/Weakly.h"
#include "quillet-dictate/hud/HUDPlacement.h"
#include "quillet-dictate/hud/VoiceHUD.h"

namespace quillet::dictate {

void VoiceHUD::dismissHUD() {
  removeKeyMonitor();
  isFinalizing_ = false;
  insertionTarget_ = {};
  cancelMaxSessionTimer();
  cancelClient();
  dependencies_.streamer.stop();
  ++sessionNumber_;
  isDismissing_ = true;
  // The model is cleared once the fade ends, unless a new session has begun by then.
  dependencies_.windows.window.fadeOutAndHide(kHUDFadeSeconds, forThisSession([](VoiceHUD& hud) {
                                                hud.isDismissing_ = false;
                                                hud.vm_.reset();
                                              }));
}

void VoiceHUD::openHUDWithoutRecording(std::optional<HUDTab> activeTab, bool showSettings, bool showHistory) {
  if (insertionTarget_.isNone()) insertionTarget_ = dependencies_.currentTarget();
  ++sessionNumber_;
  isDismissing_ = false;
  vm_.reset();
  if (activeTab) vm_.activeTab.set(*activeTab);
  vm_.showSettings.set(showSettings);
  vm_.showHistory.set(showHistory);
  didFinalizeTranscript_ = false;
  installKeyMonitor();
  presentPanel(true);
}

void VoiceHUD::handleTabChange(HUDTab tab) {
  vm_.activeTab.set(tab);
  switch (tab) {
    case HUDTab::writing:
      vm_.composeMode.set(false);
      if (flows.pullWritingText) flows.pullWritingText();
      return;
    case HUDTab::speak:
      vm_.composeMode.set(false);
      return;
    case HUDTab::action:
      vm_.composeMode.set(true);
      if (!vm_.pageContext.get() && dependencies_.captureContext) vm_.pageContext.set(dependencies_.captureContext());
      return;
  }
}

void VoiceHUD::presentPanel(bool reposition) {
  if (reposition) positionPanel();
  dependencies_.windows.window.present();
}

void VoiceHUD::positionPanel() {
  const std::optional<platform::ScreenRect> anchor =
      anchorFrameProvider ? anchorFrameProvider() : std::optional<platform::ScreenRect>();
  if (const auto origin = HUDPlacement::panelOrigin(dependencies_.windows.screens.screens(), anchor)) {
    dependencies_.windows.window.setOrigin(*origin);
  }
}

void VoiceHUD::moveByHeaderDrag(double width, double height) {
  const platform::ScreenPoint origin = dependencies_.windows.window.origin();
  // The view measures downwards, the screen upwards.
  dependencies_.windows.window.setOrigin(
      {origin.x + (width - lastHeaderDragWidth_), origin.y - (height - lastHeaderDragHeight_)});
  lastHeaderDragWidth_ = width;
  lastHeaderDragHeight_ = height;
}

void VoiceHUD::showNoTargetPrompt() {
  dependencies_.log.log("🚫 dictate ignored — no focused text field; showing prompt");
  noTargetPromptDismiss_.cancel();
  // Without a readable pointer the prompt goes to the primary screen's corner, still kept inside it.
  const platform::ScreenPoint mouse = dependencies_.windows.mouse.mouseLocation().value_or(platform::ScreenPoint{});
  const auto origin = HUDPlacement::promptOrigin(dependencies_.windows.screens.screens(), mouse);
  if (!origin) return;
  dependencies_.windows.prompt.showAt(*origin);
  noTargetPromptDismiss_ =
      dependencies_.mainLoop.after(kPromptShownSeconds, weakly(shared_from_this(), [](VoiceHUD& hud) {
                                     hud.dependencies_.windows.prompt.fadeOutAndHide(kPromptFadeSeconds);
                                   }));
}

void VoiceHUD::installKeyMonitor() {
  removeKeyMonitor();
  const Status installed = dependencies_.windows.keys.install([weakSelf = weak_from_this()](int keyCode) {
    const auto self = weakSelf.lock();
    return self && self->handleKey(keyCode);
  });
  if (installed.failed()) {
    dependencies_.log.log("⚠️ HUD keys unavailable: " + installed.error().description());
    return;
  }
  keyMonitorInstalled_ = true;
}

void VoiceHUD::removeKeyMonitor() {
  if (!keyMonitorInstalled_) return;
  dependencies_.windows.keys.remove();
  keyMonitorInstalled_ = false;
}

bool VoiceHUD::handleKey(int keyCode) {
  const platform::HUDWindow& window = dependencies_.windows.window;
  if (isDismissing_ || !window.isVisible() || window.isEditingText()) return false;
  switch (keyCode) {
    case Key::returnKey:
    case Key::keypadEnter:
      if (vm_.isRecording.get()) {
        stop();
        return true;
      }
      if (!vm_.alternatives.get().empty()) {
        insertSelected();
        return true;
      }
      return false;
    case Key::escape:
      cancelClient();
      dependencies_.streamer.stop();
      dismissHUD();
      return true;
    case Key::left:
    case Key::up:
      return moveSelection(-1);
    case Key::right:
    case Key::down:
      return moveSelection(1);
    default:
      return false;
  }
}

bool VoiceHUD::moveSelection(int step) {
  const auto alternatives = vm_.alternatives.get();
  if (alternatives.size() < 2) return false;
  const int index = std::clamp(vm_.selectedIndex.get() + step, 0, int(alternatives.size()) - 1);
  vm_.selectedIndex.set(index);
  vm_.liveText.set(alternatives[std::size_t(index)]);
  return true;
}

}  // namespace quillet::dictate
