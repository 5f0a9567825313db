#include "platform/linux/curl/CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quillet::platform::curl {
namespace {

struct EasyHandleRelease {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListRelease {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlRelease {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextRelease {
  void operator()(char* text) const { curl_free(text); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleRelease>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListRelease>;

// curl_global_init is not thread-safe, so every client shares one call.
CURLcode initializeLibraryOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

bool isTokenCharacter(char character) {
  static constexpr std::string_view punctuation = "!#$%&'*+-.^_`|~";
  return std::isalnum(static_cast<unsigned char>(character)) != 0 ||
         punctuation.find(character) != std::string_view::npos;
}

// Methods and header names reach the request line and header block verbatim, so only tokens pass.
bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

// A line break or NUL inside a value would end the header early and let the rest pose as another one.
bool isSafeHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
  return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

bool hasHeader(const HttpRequest& request, std::string_view name) {
  return std::any_of(request.headers.begin(), request.headers.end(),
                     [&](const auto& header) { return equalsIgnoringCase(header.first, name); });
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool appendLine(HeaderList& list, const std::string& line) {
  curl_slist* extended = curl_slist_append(list.get(), line.c_str());
  if (extended == nullptr) return false;
  list.release();
  list.reset(extended);
  return true;
}

// The request's headers in order, plus the blanks that stop curl adding Expect and a form Content-Type.
std::optional<HeaderList> buildHeaderList(const HttpRequest& request) {
  HeaderList list;
  for (const auto& [name, value] : request.headers) {
    // curl drops a header written "Name:" with nothing after it, but sends "Name;" as an empty one.
    const std::string line = trimmed(value).empty() ? name + ";" : name + ": " + value;
    if (!appendLine(list, line)) return std::nullopt;
  }
  if (!hasHeader(request, "Expect") && !appendLine(list, "Expect:")) return std::nullopt;
  if (!hasHeader(request, "Content-Type") && !appendLine(list, "Content-Type:")) return std::nullopt;
  return list;
}

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* target) {
  auto& headers = *static_cast<std::vector<std::pair<std::string, std::string>>*>(target);
  const std::string_view line = trimmed(std::string_view(data, size * count));
  // Each status line opens a new response; only the last one (after any 100 Continue) counts.
  if (line.starts_with("HTTP/")) {
    headers.clear();
  } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
    headers.emplace_back(std::string(trimmed(line.substr(0, colon))), std::string(trimmed(line.substr(colon + 1))));
  }
  return size * count;
}

void replaceAll(std::string& text, std::string_view secret) {
  for (auto found = text.find(secret); found != std::string::npos; found = text.find(secret, found + 3)) {
    text.replace(found, secret.size(), "...");
  }
}

// The parts of a request that may carry credentials: the URL's user information, query and fragment,
// and every header value. Very short ones are left alone: they hide nothing and would garble the text.
std::vector<std::string_view> secretsOf(const HttpRequest& request) {
  constexpr std::size_t shortest = 4;
  std::vector<std::string_view> secrets;
  const std::string_view url = request.url;
  if (const auto query = url.find_first_of("?#"); query != std::string_view::npos) {
    secrets.push_back(url.substr(query + 1));
  }
  if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
    const std::string_view rest = url.substr(scheme + 3);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) secrets.push_back(authority.substr(0, at));
  }
  for (const auto& header : request.headers) secrets.push_back(trimmed(header.second));
  std::erase_if(secrets, [&](std::string_view secret) { return secret.size() < shortest; });
  // Longer first, so a value containing a shorter one is hidden whole.
  std::sort(secrets.begin(), secrets.end(), [](auto a, auto b) { return a.size() > b.size(); });
  return secrets;
}

HttpTransportError failure(CURLcode code, const char* detail, const HttpRequest& request) {
  std::string description = curl_easy_strerror(code);
  if (detail != nullptr && detail[0] != '\0' && description != detail) description += std::string(": ") + detail;
  for (const auto secret : secretsOf(request)) replaceAll(description, secret);
  return HttpTransportError{description};
}

// How curl learns the method: GET and bodiless methods through HTTPGET, HEAD without waiting for a body,
// everything with a body (POST, PUT, PATCH always, even empty) through POST fields of an exact length.
CURLcode chooseMethod(CURL* handle, const HttpRequest& request) {
  const std::string& method = request.method;
  if (method == "HEAD") return curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  const bool sendsBody = !request.body.empty() || method == "POST" || method == "PUT" || method == "PATCH";
  const std::array<CURLcode, 3> results = {
      sendsBody ? curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()))
                : curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L),
      sendsBody ? curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data()) : CURLE_OK,
      method == (sendsBody ? "POST" : "GET") ? CURLE_OK
                                             : curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str()),
  };
  const auto failed = std::find_if(results.begin(), results.end(), [](CURLcode code) { return code != CURLE_OK; });
  return failed == results.end() ? CURLE_OK : *failed;
}

// Loopback addresses: 127.0.0.0/8, ::1 and the name localhost.
bool isLoopbackHost(std::string_view host) {
  if (equalsIgnoringCase(host, "localhost") || host == "[::1]") return true;
  if (!host.starts_with("127.")) return false;
  return std::all_of(host.begin(), host.end(), [](char character) {
    return character == '.' || std::isdigit(static_cast<unsigned char>(character)) != 0;
  });
}

// Whether `url` names this machine. Unparsable addresses answer false; curl refuses them itself.
bool targetsLoopback(const std::string& url) {
  const std::unique_ptr<CURLU, UrlRelease> parsed(curl_url());
  if (parsed == nullptr || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
  char* host = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) return false;
  const std::unique_ptr<char, TextRelease> owned(host);
  return isLoopbackHost(host);
}

// Anything wrong with the request itself, found before any byte is sent.
Expected<void, HttpTransportError> checkedRequest(const HttpRequest& request) {
  if (!isToken(request.method)) return HttpTransportError{"the request's method is not a valid HTTP token"};
  for (const auto& [name, value] : request.headers) {
    if (!isToken(name) || !isSafeHeaderValue(value)) {
      return HttpTransportError{"the request has a header with an invalid name or a line break in its value"};
    }
  }
  // curl reads a zero timeout as "wait forever"; a deadline already spent can only fail.
  if (request.timeout.count() <= 0) return HttpTransportError{"the request's timeout is not positive"};
  return {};
}

}  // namespace

// One request from its start to its answer. curl holds pointers into it, so it never moves.
struct CurlHttpClient::Transfer {
  HttpRequest request;
  HttpResponse response;
  std::array<char, CURL_ERROR_SIZE> errorText{};
  HeaderList headerList;
  EasyHandle easy;
  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  Completion completion;

  // Hands the request to the easy handle; the first option curl refuses, if any.
  CURLcode configure();
};

// The I/O thread and what it shares with the main thread: started transfers not yet handed to curl, and
// cancellations not yet carried out.
struct CurlHttpClient::Engine {
  explicit Engine(platform::MainLoop& loop) : mainLoop(loop) {}
  ~Engine() {
    for (auto& [id, transfer] : active) curl_multi_remove_handle(multi, transfer->easy.get());
    active.clear();
    if (multi != nullptr) curl_multi_cleanup(multi);
  }

  void run();
  void takeQueued();
  void collectFinished();
  void deliver(Transfer& transfer, HttpResult result);

  platform::MainLoop& mainLoop;
  CURLM* multi = curl_multi_init();
  std::mutex mutex;
  bool stopping = false;
  std::vector<std::pair<std::uint64_t, std::unique_ptr<Transfer>>> started;
  std::vector<std::uint64_t> cancelled;
  // Only the I/O thread touches the transfers curl is working on.
  std::map<std::uint64_t, std::unique_ptr<Transfer>> active;
  std::thread thread;
};

void CurlHttpClient::Engine::run() {
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (stopping) return;
    }
    takeQueued();
    int running = 0;
    curl_multi_perform(multi, &running);
    collectFinished();
    // curl shortens the wait to its own next deadline; a new request or a cancellation wakes it at once,
    // so an idle client does not wake up at all.
    constexpr int kLongestWaitMilliseconds = 60'000;
    curl_multi_poll(multi, nullptr, 0, kLongestWaitMilliseconds, nullptr);
  }
}

void CurlHttpClient::Engine::takeQueued() {
  decltype(started) newTransfers;
  std::vector<std::uint64_t> withdrawn;
  {
    std::lock_guard lock(mutex);
    newTransfers.swap(started);
    withdrawn.swap(cancelled);
  }
  for (auto& [id, transfer] : newTransfers) {
    if (const CURLMcode added = curl_multi_add_handle(multi, transfer->easy.get()); added != CURLM_OK) {
      deliver(*transfer, HttpTransportError{curl_multi_strerror(added)});
      continue;
    }
    active.emplace(id, std::move(transfer));
  }
  for (const std::uint64_t id : withdrawn) {
    const auto found = active.find(id);
    if (found == active.end()) continue;
    curl_multi_remove_handle(multi, found->second->easy.get());
    active.erase(found);
  }
}

void CurlHttpClient::Engine::collectFinished() {
  int remaining = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &remaining)) {
    if (message->msg != CURLMSG_DONE) continue;
    const auto found = std::find_if(active.begin(), active.end(),
                                    [&](const auto& entry) { return entry.second->easy.get() == message->easy_handle; });
    if (found == active.end()) continue;
    Transfer& transfer = *found->second;
    const CURLcode outcome = message->data.result;
    curl_multi_remove_handle(multi, transfer.easy.get());
    if (outcome != CURLE_OK) {
      deliver(transfer, failure(outcome, transfer.errorText.data(), transfer.request));
    } else {
      long status = 0;
      curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
      transfer.response.status = static_cast<int>(status);
      deliver(transfer, std::move(transfer.response));
    }
    active.erase(found);
  }
}

void CurlHttpClient::Engine::deliver(Transfer& transfer, HttpResult result) {
  mainLoop.post([cancelled = transfer.cancelled, completion = std::move(transfer.completion),
                 result = std::move(result)]() mutable {
    if (!cancelled->load()) completion(std::move(result));
  });
}

CurlHttpClient::CurlHttpClient(platform::MainLoop& mainLoop) : engine_(std::make_shared<Engine>(mainLoop)) {
  initializeLibraryOnce();
  if (engine_->multi != nullptr) engine_->thread = std::thread([engine = engine_.get()] { engine->run(); });
}

CurlHttpClient::~CurlHttpClient() {
  {
    std::lock_guard lock(engine_->mutex);
    engine_->stopping = true;
  }
  if (engine_->multi != nullptr) curl_multi_wakeup(engine_->multi);
  if (engine_->thread.joinable()) engine_->thread.join();
}

HttpCall CurlHttpClient::start(HttpRequest request, Completion completion) {
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->completion = std::move(completion);
  const auto refuse = [&](HttpTransportError error) {
    engine_->deliver(*transfer, std::move(error));
    return HttpCall();
  };
  if (const CURLcode initialized = initializeLibraryOnce(); initialized != CURLE_OK) {
    return refuse(failure(initialized, nullptr, transfer->request));
  }
  if (auto checked = checkedRequest(transfer->request); checked.failed()) return refuse(std::move(checked).error());
  auto headerList = buildHeaderList(transfer->request);
  transfer->easy.reset(curl_easy_init());
  if (engine_->multi == nullptr || transfer->easy == nullptr || !headerList) {
    return refuse(HttpTransportError{"libcurl could not allocate the request"});
  }
  transfer->headerList = std::move(*headerList);
  if (const CURLcode refused = transfer->configure(); refused != CURLE_OK) {
    return refuse(failure(refused, nullptr, transfer->request));
  }

  const std::uint64_t id = ++lastId_;
  auto cancelled = transfer->cancelled;
  {
    std::lock_guard lock(engine_->mutex);
    engine_->started.emplace_back(id, std::move(transfer));
  }
  curl_multi_wakeup(engine_->multi);
  return HttpCall([cancelled, id, engine = std::weak_ptr<Engine>(engine_)] {
    if (cancelled->exchange(true)) return;
    const auto alive = engine.lock();
    if (!alive) return;
    {
      std::lock_guard lock(alive->mutex);
      alive->cancelled.push_back(id);
    }
    curl_multi_wakeup(alive->multi);
  });
}

CURLcode CurlHttpClient::Transfer::configure() {
  const long timeout = static_cast<long>(request.timeout.count());
  CURL* const handle = easy.get();
  const std::array<CURLcode, 18> results = {
      curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText.data()),
      // A cancelled or abandoned request does not wait for a name lookup still under way.
      curl_easy_setopt(handle, CURLOPT_QUICK_EXIT, 1L),
      curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str()),
      curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https"),
      // Signals are not for libraries sharing a process; curl resolves names on its own thread instead.
      curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L),
      curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeout),
      curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeout),
      // What is sent to this machine stays on it: a proxy from the environment would carry it elsewhere.
      targetsLoopback(request.url) ? curl_easy_setopt(handle, CURLOPT_PROXY, "") : CURLE_OK,
      // A redirect is the caller's to judge, so it is answered as its own status.
      curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L),
      curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, ""),
      curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get()),
      curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectBody),
      curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response.body),
      curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectHeader),
      curl_easy_setopt(handle, CURLOPT_HEADERDATA, &response.headers),
      curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L),
      curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L),
      chooseMethod(handle, request),
  };
  const auto refused = std::find_if(results.begin(), results.end(), [](CURLcode code) { return code != CURLE_OK; });
  return refused == results.end() ? CURLE_OK : *refused;
}

}  // namespace quillet::platform::curl
