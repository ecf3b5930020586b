#pragma once
// Makes the main window accept dropped files and hands the dropped paths,
// joined by CR LF, to a callback. The window program supplies the one
// implementation; the core only owns it and detaches it at exit.
#include <functional>
#include <string>

namespace tavrin {

class FileDropTarget {
 public:
  using DropCallback = std::function<void(const std::string& paths)>;

  virtual ~FileDropTarget() = default;
  virtual void install(void* window, DropCallback callback) = 0;
  virtual void uninstall() = 0;
};

}  // namespace tavrin
