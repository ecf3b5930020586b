#include "nginx_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace tavrin::bench {
namespace {

const char kNginx[] = "/usr/sbin/nginx";

bool acceptsConnections(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// Waits up to `limit` for the child to end; true when it did.
bool reap(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

NginxProcess::NginxProcess(const std::string& workDir, const std::string& root, int port, int workers)
    : workDir_(workDir) {
  ::mkdir((workDir + "/logs").c_str(), 0755);
  const std::string config = workDir + "/nginx.conf";
  {
    std::ofstream out(config);
    // In the foreground, so that the benchmark holds the master's pid; as
    // root the workers would turn into "nobody", hence a readable root.
    out << "daemon off;\n"
        << "worker_processes " << workers << ";\n"
        << "pid " << workDir << "/nginx.pid;\n"
        << "error_log " << workDir << "/logs/error.log warn;\n"
        << "events { worker_connections 1024; }\n"
        << "http {\n"
        << "  access_log off;\n"
        << "  sendfile on;\n"
        << "  tcp_nopush on;\n"
        << "  keepalive_timeout 600s;\n"
        << "  keepalive_requests 1000000;\n"
        << "  default_type application/octet-stream;\n"
        << "  client_body_temp_path " << workDir << "/body;\n"
        << "  proxy_temp_path " << workDir << "/proxy;\n"
        << "  fastcgi_temp_path " << workDir << "/fastcgi;\n"
        << "  uwsgi_temp_path " << workDir << "/uwsgi;\n"
        << "  scgi_temp_path " << workDir << "/scgi;\n"
        << "  server {\n"
        << "    listen 127.0.0.1:" << port << ";\n"
        << "    root " << root << ";\n"
        << "  }\n"
        << "}\n";
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    // nginx goes when the benchmark dies, however it dies.
    ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
    ::execl(kNginx, kNginx, "-p", (workDir + "/").c_str(), "-e", (workDir + "/logs/error.log").c_str(), "-c",
            config.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    if (acceptsConnections(port)) {
      running_ = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

NginxProcess::~NginxProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGQUIT);  // graceful: the master stops its workers
  if (reap(pid_, std::chrono::seconds(5))) return;
  ::kill(pid_, SIGTERM);
  if (reap(pid_, std::chrono::seconds(5))) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::string NginxProcess::errorLog() const {
  std::ifstream in(workDir_ + "/logs/error.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace tavrin::bench
