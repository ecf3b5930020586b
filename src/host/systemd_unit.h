#pragma once
// What `systemctl show` tells about units, and how it maps onto the states
// and start types of service control.
#include <string>
#include <vector>

namespace tavrin {

struct SystemdUnit {
  std::string id;
  std::string description;  // UTF-8, as systemd keeps it
  std::string loadState;
  std::string activeState;
  std::string freezerState;
  std::string unitFileState;
  std::string execStart;
  std::string user;
  long mainPid = 0;
  std::vector<std::string> dependents;  // RequiredBy, BoundBy and ConsistsOf
};

// The properties systemdUnitsFromShow reads, for `systemctl show --property=`.
extern const char kSystemdUnitProperties[];

// One unit per block of "Key=value" lines; blocks are separated by empty
// lines. Lines that are not "Key=value" are skipped.
std::vector<SystemdUnit> systemdUnitsFromShow(const std::string& output);

// Unit names of `systemctl list-units --plain --no-legend` lines: the first
// word of each line that ends in ".service".
std::vector<std::string> serviceNamesFromList(const std::string& output);

// False when systemd does not know the unit, or nothing about it was read.
bool unitExists(const SystemdUnit& unit);

// 1 to 7 as service control numbers states (frozen units are paused), 0 for
// a unit that does not exist or a state with no counterpart.
int serviceStateOf(const SystemdUnit& unit);

// From the unit-file state: enabled is automatic, masked is disabled, every
// other known state is on demand; 0 when the state is unknown.
int startTypeOf(const SystemdUnit& unit);

// The command line of the first ExecStart (its argv[] field).
std::string binaryPathOf(const SystemdUnit& unit);

}  // namespace tavrin
