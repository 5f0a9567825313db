#pragma once

namespace quillet::dictate {

// The state of a session's transcription connection, as the HUD shows it.
enum class ConnState { idle, connecting, connected, ready, error };

}  // namespace quillet::dictate
