#include "quillet-dictate/shell/DictateFileJob.h"


namespace quillet::dictate {

namespace {
constexpr const char* kSwitch = "--dictate-file";
constexpr const char* kRealtimeSwitch = "--realtime";
}  // namespace

DictateFileJob::Arguments DictateFileJob::parseArguments(const std::vector<std::string>& arguments,
                                                         std::vector<std::string>& ignored) {
  std::optional<Options> options;
  bool realtime = false;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    if (arguments[index] == kSwitch) {
      if (index + 1 >= arguments.size() || arguments[index + 1].empty()) return Error(std::string(kSwitch) + " needs a file");
      if (options) return Error(std::string(kSwitch) + " is given twice");
      options = Options{arguments[++index], FileAudioInput::Pace::asFastAsPossible};
    } else if (arguments[index] == kRealtimeSwitch) {
      realtime = true;
    } else {
      ignored.push_back(arguments[index]);
    }
  }
  if (!options) {
    if (realtime) return Error(std::string(kRealtimeSwitch) + " only goes with " + kSwitch);
    return std::optional<Options>();
  }
  if (realtime) options->pace = FileAudioInput::Pace::realTime;
  return options;
}

DictateFileJob::DictateFileJob(platform::MainLoop& mainLoop, const platform::Clock& clock, platform::AudioFiles& files,
                               platform::ResamplerFactory resamplers, ChunkTranscriber transcriber, const VxLog& log,
                               platform::UrlOpener& urlOpener, std::ostream& partials, std::ostream& finalOutput)
    : mainLoop_(mainLoop),
      clock_(clock),
      files_(files),
      resamplers_(std::move(resamplers)),
      transcriber_(std::move(transcriber)),
      log_(log),
      urlOpener_(urlOpener),
      partials_(partials),
      finalOutput_(finalOutput) {}

void DictateFileJob::run(const Options& options, std::function<void(int exitStatus)> done) {
  done_ = std::move(done);
  auto file = files_.open(options.file);
  if (file.failed()) {
    partials_ << "quillet-dictate: cannot read " << options.file.string() << ": " << file.error().description << std::endl;
    mainLoop_.post([this] { end(1); });
    return;
  }
  input_ = std::make_unique<FileAudioInput>(std::move(file).value(), options.pace);
  input_->onEnd([this](Status reading) {
    mainLoop_.post([this, reading = std::move(reading)] {
      if (reading.failed()) log_.log("⚠️ dictate-file: reading stopped early: " + reading.error().description());
      finishRecording();
    });
  });

  client_ = ChunkedTranscribeClient::create(transcriber_, mainLoop_, clock_, log_);
  client_->onPartial = [this](const std::string& text) { partials_ << "partial: " << text << std::endl; };
  client_->onFinal = [this](const std::string& text) {
    finalOutput_ << text << std::endl;
    end(0);
  };
  client_->onError = [this](const ChunkedTranscribeError& error) {
    partials_ << "quillet-dictate: " << error.description() << std::endl;
    end(1);
  };
  client_->connect();

  streamer_ = AudioStreamer::create(*input_, resamplers_, mainLoop_, log_, urlOpener_);
  std::weak_ptr<ChunkedTranscribeClient> client = client_;
  streamer_->start(
      [client](AudioStreamer::Chunk chunk) {
        if (auto alive = client.lock()) alive->send(std::move(chunk));
      },
      [this](MicStatus status) {
        if (status == MicStatus::started) return;
        partials_ << "quillet-dictate: the file could not be played into the recorder" << std::endl;
        end(1);
      });
}

// The file is consumed: stopping the streamer cuts and sends the residual chunk before the client
// learns that nothing more will come.
void DictateFileJob::finishRecording() {
  if (!streamer_) return;
  streamer_->stop();
  client_->finish();
}

void DictateFileJob::end(int exitStatus) {
  if (!done_) return;
  auto done = std::exchange(done_, nullptr);
  done(exitStatus);
}

}  // namespace quillet::dictate
