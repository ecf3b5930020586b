#include "platform/http_response.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/text_encoding.h"

namespace tavrin {

OpenFile::~OpenFile() { close(); }

OpenFile::OpenFile(OpenFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), path_(std::move(other.path_)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    path_ = std::move(other.path_);
  }
  return *this;
}

bool OpenFile::open(const std::string& path) {
  close();
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(info.st_size);
  path_ = path;
  return true;
}

void OpenFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  path_.clear();
}

int OpenFile::release() {
  size_ = 0;
  path_.clear();
  return std::exchange(fd_, -1);
}

void HttpResponse::setHeader(const std::string& name, const std::string& value) {
  for (auto& entry : headers_) {
    if (headerNameEquals(entry.first, name)) {
      entry.second = value;
      return;
    }
  }
  headers_.emplace_back(name, value);
}

bool HttpResponse::writeText(const std::string& gbkText) {
  body_ += gbkToUtf8(gbkText);
  return true;
}

bool HttpResponse::writeData(const std::string& bytes) {
  body_ += bytes;
  return true;
}

bool HttpResponse::sendFile(const std::string& absolutePath) {
  return file_.open(absolutePath);
}

}  // namespace tavrin
