#pragma once
// The header lines of one SSDP datagram, by name in ASCII upper case.
#include <string>

#include "platform/key_value_map.h"

namespace tavrin {

class HeaderMap {
 public:
  // Adds every "name: value" line of the datagram (lines end with CR LF);
  // a later line with the same name replaces an earlier one.
  void parse(const std::string& text);

  // The value of the header, whatever the case of the name; empty when none.
  std::string get(const std::string& name) const;

 private:
  KeyValueMap headers_;
};

}  // namespace tavrin
