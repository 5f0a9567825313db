#include "quillet-capture/protocol/Event.h"

#include <utility>

namespace quillet::capture {

namespace {

using nlohmann::ordered_json;

// Each case's object; the overloads keep the member order in one place per case.
ordered_json encode(const Event::Ready& ready) {
  const Capabilities& capabilities = ready.capabilities;
  return {{"type", "ready"},
          {"capabilities",
           {{"transcriber", capabilities.transcriber},
            {"supportedLocales", capabilities.supportedLocales},
            {"macOSVersion", capabilities.macOSVersion}}}};
}

ordered_json encode(const Event::Started& started) { return {{"type", "started"}, {"epochMs", started.epochMs}}; }

ordered_json encode(const Chunk& chunk) {
  return {{"type", "chunk"},
          {"speaker", rawValue(chunk.speaker)},
          {"text", chunk.text},
          {"start", chunk.start},
          {"end", chunk.end},
          {"isFinal", chunk.isFinal}};
}

ordered_json encode(const AudioChunk& audio) {
  return {{"type", "audio"},
          {"speaker", rawValue(audio.speaker)},
          {"wavPath", audio.wavPath},
          {"start", audio.start},
          {"end", audio.end}};
}

ordered_json encode(const Event::Error& error) {
  return {{"type", "error"}, {"code", rawValue(error.code)}, {"message", error.message}, {"fatal", error.fatal}};
}

ordered_json encode(const Event::Stopped& stopped) { return {{"type", "stopped"}, {"reason", stopped.reason}}; }

}  // namespace

Event Event::ready(Capabilities capabilities) { return Event(Ready{std::move(capabilities)}); }

Event Event::started(std::chrono::system_clock::time_point startedAt) {
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(startedAt.time_since_epoch());
  return Event(Started{static_cast<std::int64_t>(sinceEpoch.count())});
}

Event Event::chunk(Chunk chunk) { return Event(std::move(chunk)); }

Event Event::audio(AudioChunk audioChunk) { return Event(std::move(audioChunk)); }

Event Event::error(ErrorCode code, std::string message, bool fatal) {
  return Event(Error{code, std::move(message), fatal});
}

Event Event::stopped(std::string reason) { return Event(Stopped{std::move(reason)}); }

Event Event::invalidCommand(const CommandRejection& rejection) {
  return error(ErrorCode::invalidCommand, "could not parse command: " + rejection.description, false);
}

Event Event::unknownCommand(const std::string& cmd) {
  return error(ErrorCode::invalidCommand, "unknown command: " + cmd, false);
}

ordered_json Event::json() const {
  return std::visit([](const auto& payload) { return encode(payload); }, payload_);
}

}  // namespace quillet::capture
