#pragma once
// nginx as the benchmark's peer: started on 127.0.0.1 with a private
// configuration and prefix in a directory of its own, serving one directory
// with sendfile, and stopped when the object goes.
#include <string>
#include <sys/types.h>

namespace tavrin::bench {

class NginxProcess {
 public:
  // workDir holds the configuration, logs and temporary paths; root is the
  // directory served.
  NginxProcess(const std::string& workDir, const std::string& root, int port, int workers);
  ~NginxProcess();
  NginxProcess(const NginxProcess&) = delete;
  NginxProcess& operator=(const NginxProcess&) = delete;

  // True once nginx accepts connections on its port.
  bool isRunning() const { return running_; }
  // The error log, for telling why it did not start.
  std::string errorLog() const;

 private:
  std::string workDir_;
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace tavrin::bench
