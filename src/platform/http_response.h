#pragma once
// The answer a path handler of EmbeddedHttpServer builds. It is sent after
// the handler has returned.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/http_request.h"

namespace tavrin {

// An open regular file waiting to be sent; owns its descriptor.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile();
  OpenFile(OpenFile&& other) noexcept;
  OpenFile& operator=(OpenFile&& other) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // Opens a regular file for reading; false (and nothing open) otherwise.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  // Hands the descriptor over to the caller, who closes it from then on.
  int release();

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

class HttpResponse {
 public:
  // Sets a header, replacing one of the same name (any case), or adds it.
  void setHeader(const std::string& name, const std::string& value);
  // Appends a GBK text converted to UTF-8, the servers' output encoding.
  bool writeText(const std::string& gbkText);
  // Appends bytes unchanged.
  bool writeData(const std::string& bytes);
  // Sends the file at this absolute path, with ranges, instead of the body;
  // false when it is no readable regular file (a pending file is dropped
  // then, so the empty path cancels one).
  bool sendFile(const std::string& absolutePath);
  // Called on a network thread of the server once the exchange is over:
  // true when the whole answer went out, false when the client left, the
  // connection failed or the server stopped first.
  void onFinished(std::function<void(bool whole)> finished) { finished_ = std::move(finished); }
  const std::function<void(bool whole)>& finished() const { return finished_; }

  const HttpHeaderList& headers() const { return headers_; }
  const std::string& body() const { return body_; }
  OpenFile& file() { return file_; }
  const OpenFile& file() const { return file_; }

 private:
  HttpHeaderList headers_;
  std::string body_;
  OpenFile file_;
  std::function<void(bool whole)> finished_;
};

}  // namespace tavrin
