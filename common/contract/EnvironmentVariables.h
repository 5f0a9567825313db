#pragma once

// Every environment variable the three programs read, in one place.
namespace quillet::environment {

// quillet-dictate: the backend address and the user's session, handed over by the host.
inline constexpr const char* kSupabaseURL = "QL_SUPABASE_URL";
inline constexpr const char* kAnonKey = "QL_ANON_KEY";
inline constexpr const char* kAccessToken = "QL_ACCESS_TOKEN";
inline constexpr const char* kRefreshToken = "QL_REFRESH_TOKEN";

// quillet-dictate: port of the loopback transcription server.
inline constexpr const char* kVoicePort = "VOICE_PORT";

// quillet-capture: transcription engine choice and the speech gate of WAV chunking.
inline constexpr const char* kCaptureEngine = "QL_CAPTURE_ENGINE";
inline constexpr const char* kVadSilenceMs = "QL_VAD_SILENCE_MS";
inline constexpr const char* kVadMinSpeechMs = "QL_VAD_MIN_SPEECH_MS";
inline constexpr const char* kVadMaxChunkMs = "QL_VAD_MAX_CHUNK_MS";
inline constexpr const char* kVadSilenceLevel = "QL_VAD_SILENCE_LEVEL";

// quillet-dictate and quillet-capture: the folder of the on-device recogniser's models, for development.
inline constexpr const char* kSpeechModelRoot = "QUILLET_SPEECH_MODEL_ROOT";

}  // namespace quillet::environment
