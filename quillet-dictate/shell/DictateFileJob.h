#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <optional>
#include <vector>

#include "common/result/Expected.h"
#include "platform/AudioFiles.h"
#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/Resampler.h"
#include "platform/UrlOpener.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/audio/FileAudioInput.h"
#include "quillet-dictate/shell/VxLog.h"
#include "quillet-dictate/transcription/ChunkTranscription.h"
#include "quillet-dictate/transcription/ChunkedTranscribeClient.h"

namespace quillet::dictate {

// The developer switch "--dictate-file PATH [--realtime]": a recorded file goes through the same path
// as the microphone (streamer, chunked client, engine router) and the transcript comes out as text.
// Partials go to `partials` one per line; the final transcript is one line on `finalOutput`.
class DictateFileJob {
 public:
  struct Options {
    std::filesystem::path file;
    FileAudioInput::Pace pace = FileAudioInput::Pace::asFastAsPossible;
  };
  // The switch's options, nothing without it, or the reason its use is malformed.
  using Arguments = Expected<std::optional<Options>>;

  // Arguments that are not this job's switches are left to others: they are added to `ignored` in order.
  static Arguments parseArguments(const std::vector<std::string>& arguments, std::vector<std::string>& ignored);

  DictateFileJob(platform::MainLoop& mainLoop, const platform::Clock& clock, platform::AudioFiles& files,
                 platform::ResamplerFactory resamplers, ChunkTranscriber transcriber, const VxLog& log,
                 platform::UrlOpener& urlOpener, std::ostream& partials, std::ostream& finalOutput);

  // Starts the job; `done` runs on the main loop with the process's exit status: 0 with a transcript
  // (possibly empty), 1 when the file cannot be read or every chunk failed.
  void run(const Options& options, std::function<void(int exitStatus)> done);

 private:
  void finishRecording();
  void end(int exitStatus);

  platform::MainLoop& mainLoop_;
  const platform::Clock& clock_;
  platform::AudioFiles& files_;
  platform::ResamplerFactory resamplers_;
  ChunkTranscriber transcriber_;
  const VxLog& log_;
  platform::UrlOpener& urlOpener_;
  std::ostream& partials_;
  std::ostream& finalOutput_;

  std::unique_ptr<FileAudioInput> input_;
  std::shared_ptr<AudioStreamer> streamer_;
  std::shared_ptr<ChunkedTranscribeClient> client_;
  std::function<void(int)> done_;
};

}  // namespace quillet::dictate
