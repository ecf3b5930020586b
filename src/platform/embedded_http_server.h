#pragma once
// The program's embedded HTTP server: path handlers run on worker threads of
// the server, files go out zero-copy with byte ranges. Built on
// libmicrohttpd (epoll thread pool); handlers run apart from the network
// threads, so one that blocks never stalls other connections.
#include <functional>
#include <memory>
#include <string>

#include "platform/http_request.h"
#include "platform/http_response.h"

namespace tavrin {

class KeyValueMap;

// Runs on a worker thread of the server and may block; other connections are
// served meanwhile. Returns true when it has handled the request (200 with
// what it wrote, or the file it sent); false leaves the answer to the server
// (404); an exception gives 500.
using PathHandler = std::function<bool(const HttpRequest& request, HttpResponse& response)>;

// The path under which a handler takes every request that no other path
// takes ("@页面404"; its GBK form is accepted too).
extern const char kNotFoundRoute[];

class EmbeddedHttpServer {
 public:
  EmbeddedHttpServer();
  // Stops the server when it runs.
  ~EmbeddedHttpServer();
  EmbeddedHttpServer(const EmbeddedHttpServer&) = delete;
  EmbeddedHttpServer& operator=(const EmbeddedHttpServer&) = delete;

  // A request whose path without its query string equals `path` goes to the
  // handler; registering a path again replaces its handler. kNotFoundRoute
  // registers the handler for requests that no other path takes.
  void registerPathHandler(PathHandler handler, const std::string& path);

  // Listens on every local IPv4 address on the TCP port that the
  // configuration holds under "端口" (an integer; the key in GBK or UTF-8);
  // true when the server runs there (also when it already ran on that port).
  bool start(const KeyValueMap& config);
  bool start(int port);
  // Closes the port at once and every connection; waits a short while for
  // handlers still running.
  void stop();
  bool isRunning() const;
  // The port while running, else 0.
  int port() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavrin
