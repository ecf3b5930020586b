#include "platform/embedded_http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/byte_range.h"
#include "platform/handler_worker_pool.h"
#include "platform/key_value_map.h"
#include "platform/mime_type.h"
#include "platform/text_encoding.h"

namespace tavrin {

const char kNotFoundRoute[] = "@页面404";

namespace {

// Request bodies are read into memory; larger ones are refused with 413.
constexpr uint64_t kMaxBodyBytes = 1024 * 1024;
// TVs take a closed connection for the end of the film, so an idle one
// (a paused player) is kept for a long time.
constexpr unsigned kIdleTimeoutSeconds = 600;
// Many idle connections must never keep a new one out.
constexpr unsigned kMaxConnections = 4096;
// Descriptors kept free for the rest of the process.
constexpr rlim_t kReservedDescriptors = 64;
constexpr int kMaxHandlerThreads = 64;
// How long stop() waits for handlers still running; bounded, since a handler
// may wait for the very thread that stops the server.
constexpr std::chrono::milliseconds kStopGrace(2000);

// Keys of the configuration map.
const char kPortKey[] = "端口";

// The state of one request, shared by the network thread that reads and
// answers it and the worker thread that runs its handler.
struct RequestJob {
  enum class Stage { receiving, running, answered, abandoned };

  std::mutex mutex;
  Stage stage = Stage::receiving;  // guarded by mutex from `running` on
  MHD_Connection* connection = nullptr;
  std::string target;  // the request target as sent, query string included
  bool headersSeen = false;
  bool bodyTooLarge = false;
  std::string body;
  HttpRequest request;
  HttpResponse response;
  bool handled = false;
  bool failed = false;  // the handler threw, or no thread could run it
};
using JobHolder = std::shared_ptr<RequestJob>;

MHD_Result queueStatus(MHD_Connection* connection, unsigned status, bool closeAfter) {
  const char* text = "";
  switch (status) {
    case MHD_HTTP_BAD_REQUEST: text = "400 Bad Request\n"; break;
    case MHD_HTTP_NOT_FOUND: text = "404 Not Found\n"; break;
    case MHD_HTTP_CONTENT_TOO_LARGE: text = "413 Content Too Large\n"; break;
    case MHD_HTTP_INTERNAL_SERVER_ERROR: text = "500 Internal Server Error\n"; break;
    case MHD_HTTP_SERVICE_UNAVAILABLE: text = "503 Service Unavailable\n"; break;
    default: break;
  }
  MHD_Response* response =
      MHD_create_response_from_buffer(std::char_traits<char>::length(text), const_cast<char*>(text),
                                      MHD_RESPMEM_PERSISTENT);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
  if (closeAfter) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

// Header names that the library writes itself.
bool isManagedHeader(const std::string& name) {
  return headerNameEquals(name, MHD_HTTP_HEADER_CONTENT_LENGTH) ||
         headerNameEquals(name, MHD_HTTP_HEADER_TRANSFER_ENCODING) ||
         headerNameEquals(name, MHD_HTTP_HEADER_CONNECTION) || headerNameEquals(name, MHD_HTTP_HEADER_DATE);
}

// Headers the handler set win over the server's own of the same name.
void addHeaders(MHD_Response* response, const HttpHeaderList& own, const HttpHeaderList& fromHandler) {
  for (const auto& header : own) {
    const bool overridden = std::any_of(fromHandler.begin(), fromHandler.end(),
                                        [&](const auto& h) { return headerNameEquals(h.first, header.first); });
    if (!overridden) MHD_add_response_header(response, header.first.c_str(), header.second.c_str());
  }
  for (const auto& header : fromHandler) {
    if (!isManagedHeader(header.first)) {
      MHD_add_response_header(response, header.first.c_str(), header.second.c_str());
    }
  }
}

MHD_Result collectHeader(void* list, MHD_ValueKind, const char* name, const char* value) {
  static_cast<HttpHeaderList*>(list)->emplace_back(name ? name : "", value ? value : "");
  return MHD_YES;
}

// Two Content-Length headers that disagree make the body's end ambiguous
// (the library would take the first).
bool hasConflictingLengths(MHD_Connection* connection) {
  std::vector<std::string> lengths;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* list, MHD_ValueKind, const char* name, const char* value) {
        if (name && value && headerNameEquals(name, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
          static_cast<std::vector<std::string>*>(list)->emplace_back(value);
        }
        return MHD_YES;
      },
      &lengths);
  return std::any_of(lengths.begin(), lengths.end(), [&](const std::string& l) { return l != lengths.front(); });
}

// True when the request announces a body larger than the server takes.
bool declaresTooLargeBody(MHD_Connection* connection) {
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (!length) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(length, &end, 10);
  return errno == ERANGE || value > kMaxBodyBytes;
}

// Raises the soft descriptor limit towards what the connection limit needs
// and returns the number of connections the server may hold.
unsigned usableConnectionLimit() {
  const rlim_t wanted = kMaxConnections + kReservedDescriptors;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1000;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    if (raised.rlim_cur > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return kMaxConnections;
  if (limit.rlim_cur <= 2 * kReservedDescriptors) return static_cast<unsigned>(limit.rlim_cur / 2);
  return static_cast<unsigned>(limit.rlim_cur - kReservedDescriptors);
}

// The client's address in text form; empty when the library has none.
std::string peerAddressOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return std::string();
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

unsigned networkThreadCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 2u, 4u);
}

}  // namespace

struct EmbeddedHttpServer::Impl {
  std::mutex routesMutex;
  std::vector<std::pair<std::string, PathHandler>> routes;
  PathHandler notFoundHandler;

  std::mutex runMutex;  // start and stop
  MHD_Daemon* daemon = nullptr;
  std::unique_ptr<HandlerWorkerPool> pool;
  std::atomic<bool> running{false};
  std::atomic<int> port{0};

  // Requests whose handler runs (their connections are suspended): stop()
  // must hand every one back to the library before the daemon goes.
  std::mutex jobsMutex;
  std::unordered_set<JobHolder> jobs;
  bool stopping = false;

  PathHandler findHandler(const std::string& target, const char* decodedPath) {
    const std::string path = target.substr(0, target.find('?'));
    std::lock_guard<std::mutex> lock(routesMutex);
    for (const auto& route : routes) {
      if (route.first == path) return route.second;
    }
    // The decoded form ends at an encoded zero byte: "/1%00" is not "/1".
    if (decodedPath && path != decodedPath && path.find("%00") == std::string::npos) {
      for (const auto& route : routes) {
        if (route.first == decodedPath) return route.second;
      }
    }
    return notFoundHandler;
  }

  MHD_Result dispatch(MHD_Connection* connection, const JobHolder& job, PathHandler handler) {
    {
      std::lock_guard<std::mutex> lock(jobsMutex);
      if (stopping) return MHD_NO;
      jobs.insert(job);
      std::lock_guard<std::mutex> jobLock(job->mutex);
      job->stage = RequestJob::Stage::running;
      MHD_suspend_connection(connection);
    }
    const bool posted = pool->post([job, handler = std::move(handler)] {
      HttpResponse response;
      bool handled = false;
      bool failed = false;
      try {
        handled = handler(job->request, response);
      } catch (...) {
        failed = true;
      }
      std::lock_guard<std::mutex> lock(job->mutex);
      if (job->stage != RequestJob::Stage::running) return;  // the server stopped meanwhile
      job->response = std::move(response);
      job->handled = handled;
      job->failed = failed;
      job->stage = RequestJob::Stage::answered;
      MHD_resume_connection(job->connection);
    });
    if (!posted) {
      std::lock_guard<std::mutex> lock(job->mutex);
      if (job->stage == RequestJob::Stage::running) {
        job->failed = true;
        job->stage = RequestJob::Stage::answered;
        MHD_resume_connection(connection);
      }
    }
    return MHD_YES;
  }

  MHD_Result answer(MHD_Connection* connection, RequestJob& job) {
    if (job.failed) {
      return queueStatus(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, false);
    }
    if (!job.handled) return queueStatus(connection, MHD_HTTP_NOT_FOUND, false);
    if (job.response.file().isOpen()) return answerWithFile(connection, job);
    const std::string& body = job.response.body();
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    addHeaders(response, {}, job.response.headers());
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
  }

  MHD_Result answerWithFile(MHD_Connection* connection, RequestJob& job) {
    OpenFile& file = job.response.file();
    const uint64_t size = file.size();
    const std::string& method = job.request.method();
    const std::string rangeHeader = job.request.header(MHD_HTTP_HEADER_RANGE);
    ByteRange range;
    if ((method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD) && !rangeHeader.empty()) {
      range = parseByteRange(rangeHeader, size);
    }
    HttpHeaderList own{{MHD_HTTP_HEADER_CONTENT_TYPE, mimeTypeForPath(file.path())},
                       {MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes"}};
    const std::string sizeText = std::to_string(size);
    unsigned status = MHD_HTTP_OK;
    MHD_Response* response = nullptr;
    if (range.kind == ByteRange::Kind::unsatisfiable) {
      status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
      own.emplace_back(MHD_HTTP_HEADER_CONTENT_RANGE, "bytes */" + sizeText);
      response = MHD_create_response_from_buffer(0, const_cast<char*>(""), MHD_RESPMEM_PERSISTENT);
    } else {
      uint64_t offset = 0;
      uint64_t length = size;
      if (range.kind == ByteRange::Kind::partial) {
        status = MHD_HTTP_PARTIAL_CONTENT;
        offset = range.first;
        length = range.last - range.first + 1;
        own.emplace_back(MHD_HTTP_HEADER_CONTENT_RANGE, "bytes " + std::to_string(range.first) + "-" +
                                                            std::to_string(range.last) + "/" + sizeText);
      }
      response = MHD_create_response_from_fd_at_offset64(length, file.fd(), offset);
      if (response) file.release();  // the response closes the descriptor now
    }
    if (!response) return MHD_NO;
    addHeaders(response, own, job.response.headers());
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
  }

  static void* onRequestLine(void*, const char* uri, MHD_Connection*) {
    auto job = std::make_shared<RequestJob>();
    job->target = uri ? uri : "";
    return new JobHolder(std::move(job));
  }

  static void onRequestCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode code) {
    auto* holder = static_cast<JobHolder*>(*context);
    *context = nullptr;
    if (!holder) return;
    std::function<void(bool)> finished;
    {
      std::lock_guard<std::mutex> lock((*holder)->mutex);
      const RequestJob& job = **holder;
      if (job.stage == RequestJob::Stage::answered && job.handled && !job.failed) finished = job.response.finished();
    }
    delete holder;
    if (finished) finished(code == MHD_REQUEST_TERMINATED_COMPLETED_OK);
  }

  static MHD_Result onAccess(void* cls, MHD_Connection* connection, const char* url, const char* method,
                             const char*, const char* uploadData, size_t* uploadSize, void** context) {
    auto* self = static_cast<Impl*>(cls);
    auto* holder = static_cast<JobHolder*>(*context);
    if (!holder) return MHD_NO;
    const JobHolder job = *holder;
    RequestJob::Stage stage;
    {
      std::lock_guard<std::mutex> lock(job->mutex);
      stage = job->stage;
    }
    if (stage == RequestJob::Stage::answered) {
      {
        std::lock_guard<std::mutex> lock(self->jobsMutex);
        self->jobs.erase(job);
      }
      return self->answer(connection, *job);
    }
    if (stage != RequestJob::Stage::receiving) return MHD_NO;

    if (!job->headersSeen) {
      job->headersSeen = true;
      job->connection = connection;
      if (hasConflictingLengths(connection)) return queueStatus(connection, MHD_HTTP_BAD_REQUEST, true);
      // Refused before the body is read (and before "100 Continue").
      if (declaresTooLargeBody(connection)) return queueStatus(connection, MHD_HTTP_CONTENT_TOO_LARGE, true);
      return MHD_YES;
    }
    if (*uploadSize > 0) {
      // A chunked body may grow past the limit: from then on it is read and
      // dropped, and the answer is 413 once it has ended.
      if (!job->bodyTooLarge) {
        if (job->body.size() + *uploadSize > kMaxBodyBytes) {
          job->bodyTooLarge = true;
          std::string().swap(job->body);
        } else {
          job->body.append(uploadData, *uploadSize);
        }
      }
      *uploadSize = 0;
      return MHD_YES;
    }
    if (job->bodyTooLarge) return queueStatus(connection, MHD_HTTP_CONTENT_TOO_LARGE, true);

    HttpHeaderList headers;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, collectHeader, &headers);
    job->request = HttpRequest(method ? method : "", job->target, std::move(headers), std::move(job->body),
                               peerAddressOf(connection));
    PathHandler handler = self->findHandler(job->target, url);
    if (!handler) return queueStatus(connection, MHD_HTTP_NOT_FOUND, false);
    return self->dispatch(connection, job, std::move(handler));
  }
};

EmbeddedHttpServer::EmbeddedHttpServer() : impl_(std::make_unique<Impl>()) {}

EmbeddedHttpServer::~EmbeddedHttpServer() { stop(); }

void EmbeddedHttpServer::registerPathHandler(PathHandler handler, const std::string& path) {
  std::lock_guard<std::mutex> lock(impl_->routesMutex);
  static const std::string gbkNotFoundRoute = utf8ToGbk(kNotFoundRoute);
  if (path == kNotFoundRoute || path == gbkNotFoundRoute) {
    impl_->notFoundHandler = std::move(handler);
    return;
  }
  for (auto& route : impl_->routes) {
    if (route.first == path) {
      route.second = std::move(handler);
      return;
    }
  }
  impl_->routes.emplace_back(path, std::move(handler));
}

bool EmbeddedHttpServer::start(const KeyValueMap& config) {
  static const std::string gbkPortKey = utf8ToGbk(kPortKey);
  const KeyValue port = config.kind(gbkPortKey) != KeyValue::Kind::None ? config.get(gbkPortKey) : config.get(kPortKey);
  const std::int64_t number = port.asInteger();
  if (number < 1 || number > 65535) return false;
  return start(static_cast<int>(number));
}

bool EmbeddedHttpServer::start(int port) {
  std::lock_guard<std::mutex> lock(impl_->runMutex);
  if (impl_->daemon) return impl_->port == port;
  if (port < 1 || port > 65535) return false;

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  {
    std::lock_guard<std::mutex> jobsLock(impl_->jobsMutex);
    impl_->stopping = false;
  }
  impl_->pool = std::make_unique<HandlerWorkerPool>(kMaxHandlerThreads);
  // Without an explicit reuse option the library sets SO_REUSEADDR (and not
  // SO_REUSEPORT): the port is free again right after stop, yet a port that
  // someone listens on is refused.
  impl_->daemon = MHD_start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_TURBO, static_cast<uint16_t>(port),
      nullptr, nullptr, &Impl::onAccess, impl_.get(),
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address),
      MHD_OPTION_THREAD_POOL_SIZE, networkThreadCount(),
      MHD_OPTION_CONNECTION_LIMIT, usableConnectionLimit(),
      MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
      MHD_OPTION_URI_LOG_CALLBACK, &Impl::onRequestLine, impl_.get(),
      MHD_OPTION_NOTIFY_COMPLETED, &Impl::onRequestCompleted, impl_.get(),
      MHD_OPTION_END);
  if (!impl_->daemon) {
    impl_->pool.reset();
    return false;
  }
  impl_->port = port;
  impl_->running = true;
  return true;
}

void EmbeddedHttpServer::stop() {
  std::lock_guard<std::mutex> lock(impl_->runMutex);
  if (!impl_->daemon) return;
  std::unordered_set<JobHolder> suspended;
  {
    std::lock_guard<std::mutex> jobsLock(impl_->jobsMutex);
    impl_->stopping = true;
    suspended.swap(impl_->jobs);
  }
  for (const JobHolder& job : suspended) {
    std::lock_guard<std::mutex> jobLock(job->mutex);
    if (job->stage == RequestJob::Stage::running) {
      job->stage = RequestJob::Stage::abandoned;
      MHD_resume_connection(job->connection);
    }
  }
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
  impl_->running = false;
  impl_->port = 0;
  impl_->pool->close(kStopGrace);
  impl_->pool.reset();
}

bool EmbeddedHttpServer::isRunning() const { return impl_->running; }

int EmbeddedHttpServer::port() const { return impl_->port; }

}  // namespace tavrin
