#include "quillet-capture/pill/CapturePillPanel.h"

namespace quillet::capture {

CapturePillPanel::CapturePillPanel(Services services, PillWindow& window)
    : services_(services), window_(window), pulse_(services.mainLoop) {
  services_.control.onChange = [this](bool paused) { pauseState_.flagChanged(paused); };
}

CapturePillPanel::~CapturePillPanel() { services_.control.onChange = nullptr; }

void CapturePillPanel::show() {
  placeInitially();
  pulse_.start();
  window_.orderFront();
}

void CapturePillPanel::placeInitially() {
  const auto remembered = services_.defaults.stringValue(PillPlacement::kDefaultsKey);
  if (const auto origin = PillPlacement::initialOrigin(services_.screens.screens(), remembered)) {
    window_.setOrigin(*origin);
  }
}

void CapturePillPanel::hide() {
  if (const auto text = PillPlacement::rememberedText(services_.screens.screens(), window_.origin())) {
    // A place that cannot be stored only means the next capture shows the pill in its corner.
    (void)services_.defaults.set(PillPlacement::kDefaultsKey, *text);
  }
  pulse_.stop();
  window_.orderOut();
}

void CapturePillPanel::primaryPressed() { services_.control.toggle(); }

void CapturePillPanel::secondaryPressed() {
  if (onStop) onStop();
}

}  // namespace quillet::capture
