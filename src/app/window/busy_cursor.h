#pragma once
// Shows the wait cursor while the GUI thread is blocked in a push or fetch.
namespace tavrin {

class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace tavrin
