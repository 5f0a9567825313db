#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quillet::test {

// One part of a multipart/form-data body, as the server parsed it.
struct RecordedPart {
  std::string name;
  std::string filename;
  std::string contentType;
  std::string content;

  bool operator==(const RecordedPart&) const = default;
};

// One request as the loopback server received it.
struct RecordedRequest {
  std::string method;
  // The path with its query, as the request line carried it.
  std::string target;
  // cpp-httplib keeps headers sorted by name, so the order across names is not the order sent.
  std::vector<std::pair<std::string, std::string>> headers;
  // Empty for multipart bodies, which the server parses into `parts` instead.
  std::string body;
  std::vector<RecordedPart> parts;

  // The first value of a header, whatever the case of its name.
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const {
    const auto found = std::find_if(headers.begin(), headers.end(), [&](const auto& header) {
      return std::equal(header.first.begin(), header.first.end(), name.begin(), name.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
      });
    });
    if (found == headers.end()) return std::nullopt;
    return found->second;
  }
};

// A server on 127.0.0.1 at a free port, plain HTTP unless given a certificate, listening from construction
// to destruction, that records every request and answers with what the test scripted for its method and
// path (404 otherwise).
class LoopbackHttpServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  // A certificate and its private key, both PEM files, for a server that speaks HTTPS.
  struct TlsFiles {
    std::string certificate;
    std::string privateKey;
  };

  LoopbackHttpServer() : LoopbackHttpServer(std::make_unique<httplib::Server>(), "http") {}

  explicit LoopbackHttpServer(const TlsFiles& files)
      : LoopbackHttpServer(
            std::make_unique<httplib::SSLServer>(files.certificate.c_str(), files.privateKey.c_str()), "https") {}

  ~LoopbackHttpServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    released_.notify_all();
    server_->stop();
    thread_.join();
  }

  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  [[nodiscard]] int port() const { return port_; }

  [[nodiscard]] std::string url(std::string_view path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }

  // Answers requests to this method and path (the query is not part of the match) with the handler.
  void on(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[{method, path}] = std::move(handler);
  }

  void answer(const std::string& method, const std::string& path, int status, std::string body = {},
              std::string contentType = "text/plain") {
    on(method, path, [=](const httplib::Request&, httplib::Response& response) {
      response.status = status;
      response.set_content(body, contentType.c_str());
    });
  }

  // Requests to this route wait without an answer until releaseBlocked() or the server stops.
  void neverAnswer(const std::string& method, const std::string& path) {
    on(method, path, [this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      const std::uint64_t arrivedIn = releaseGeneration_;
      released_.wait(lock, [&] { return stopping_ || releaseGeneration_ != arrivedIn; });
      response.status = 503;
    });
  }

  // Lets every request that is waiting on a neverAnswer route go; later ones wait again.
  void releaseBlocked() {
    {
      std::lock_guard lock(mutex_);
      ++releaseGeneration_;
    }
    released_.notify_all();
  }

  [[nodiscard]] std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  // Waits until at least this many requests have arrived; false if the limit passed first.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
  }

 private:
  LoopbackHttpServer(std::unique_ptr<httplib::Server> server, std::string scheme)
      : server_(std::move(server)), scheme_(std::move(scheme)) {
    if (!server_->is_valid()) throw std::runtime_error("the loopback HTTP server cannot load its certificate");
    const Handler dispatcher = [this](const httplib::Request& request, httplib::Response& response) {
      dispatch(request, response);
    };
    server_->Get(".*", dispatcher);
    server_->Post(".*", dispatcher);
    server_->Put(".*", dispatcher);
    server_->Patch(".*", dispatcher);
    server_->Delete(".*", dispatcher);
    server_->Options(".*", dispatcher);
    // Idle kept-alive connections hold up stop() for this long at most.
    server_->set_keep_alive_timeout(1);
    // As real servers do: without it a short answer written in two parts waits 40 ms for the client's delayed ACK.
    server_->set_tcp_nodelay(true);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("the loopback HTTP server cannot bind a port");
    thread_ = std::thread([this] {
      server_->listen_after_bind();
      listenEnded_ = true;
    });
    // stop() does nothing to a server that is not running yet, so the destructor could wait forever.
    while (!server_->is_running() && !listenEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server_->is_running()) {
      thread_.join();
      throw std::runtime_error("the loopback HTTP server cannot listen");
    }
  }

  void dispatch(const httplib::Request& request, httplib::Response& response) {
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      std::vector<RecordedPart> parts;
      for (const auto& [name, file] : request.files) parts.push_back({file.name, file.filename, file.content_type, file.content});
      requests_.push_back({request.method, request.target,
                           std::vector<std::pair<std::string, std::string>>(request.headers.begin(),
                                                                            request.headers.end()),
                           request.body, std::move(parts)});
      // cpp-httplib answers HEAD through the GET routes.
      const std::string routeMethod = request.method == "HEAD" ? "GET" : request.method;
      const auto route = routes_.find({routeMethod, request.path});
      if (route != routes_.end()) handler = route->second;
    }
    arrived_.notify_all();
    if (handler) {
      handler(request, response);
    } else {
      response.status = 404;
    }
  }

  std::unique_ptr<httplib::Server> server_;
  std::string scheme_;
  int port_ = 0;
  std::atomic<bool> listenEnded_ = false;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::condition_variable released_;
  std::map<std::pair<std::string, std::string>, Handler> routes_;
  std::vector<RecordedRequest> requests_;
  std::uint64_t releaseGeneration_ = 0;
  bool stopping_ = false;
};

}  // namespace quillet::test
