#include "host/service_controller.h"

#include <chrono>
#include <thread>

#include "host/pending_events.h"
#include "host/service_labels.h"
#include "host/shell_command.h"
#include "host/systemd_unit.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

// Dependents are waited for at most this long, all together.
constexpr auto kDependentsStopLimit = std::chrono::milliseconds(30000);
// systemd gives no wait hint: the state is asked again after this pause.
constexpr auto kStopPollInterval = std::chrono::milliseconds(100);

// Every unit runs in processes of its own.
constexpr int kUnitServiceType = kServiceOwnProcess;

// Runs "systemctl <verb> [options] -- <names…>"; the names can never be
// taken for options or shell syntax.
ShellResult systemctl(const std::string& verbAndOptions, const std::vector<std::string>& names) {
  std::string command = "systemctl " + verbAndOptions + " --";
  for (const std::string& name : names) command += " " + shellQuote(name);
  return runShell(command);
}

bool systemctlAccepts(const std::string& verbAndOptions, const std::string& name) {
  return !name.empty() && systemctl(verbAndOptions, {name}).exitStatus == 0;
}

std::vector<SystemdUnit> showUnits(const std::vector<std::string>& names) {
  if (names.empty()) return {};
  ShellResult result = systemctl(std::string("show --property=") + kSystemdUnitProperties, names);
  if (result.exitStatus != 0) return {};
  return systemdUnitsFromShow(result.output);
}

SystemdUnit showUnit(const std::string& name) {
  if (name.empty()) return SystemdUnit();
  std::vector<SystemdUnit> units = showUnits({name});
  return units.empty() ? SystemdUnit() : units.front();
}

std::vector<SystemdUnit> allServiceUnits() {
  ShellResult result = runShell("systemctl list-units --all --type=service --plain --no-legend --no-pager");
  if (result.exitStatus != 0) return {};
  return showUnits(serviceNamesFromList(result.output));
}

bool matchesFilter(int state, int stateFilter) {
  if (state == 0) return false;
  if (stateFilter == kServiceActive) return state != kServiceStopped;
  if (stateFilter == kServiceInactive) return state == kServiceStopped;
  return stateFilter == kServiceStateAll;
}

std::string accountOf(const SystemdUnit& unit) { return unit.user.empty() ? "root" : unit.user; }

// Key and display name always; the rest only when systemd knows the unit.
template <typename Info>
Info describe(const SystemdUnit& unit) {
  Info info;
  info.keyName = unit.id;
  info.displayName = utf8ToGbk(unit.description);
  if (!unitExists(unit)) return info;
  info.description = utf8ToGbk(unit.description);
  info.stateLabel = serviceStateName(serviceStateOf(unit));
  info.binaryPath = binaryPathOf(unit);
  info.startTypeLabel = startTypeLabel(startTypeOf(unit), kUnitServiceType);
  info.accountLabel = listedAccountLabel(accountOf(unit));
  return info;
}

std::vector<ServiceInfo> describeAll(const std::vector<SystemdUnit>& units) {
  std::vector<ServiceInfo> list;
  for (const SystemdUnit& unit : units) {
    list.push_back(describe<ServiceInfo>(unit));
    handlePendingEvents();
  }
  return list;
}

std::vector<std::string> dependentNames(const std::string& name) {
  std::vector<std::string> names;
  for (const std::string& dependent : showUnit(name).dependents) {
    if (dependent.size() > 8 && dependent.compare(dependent.size() - 8, 8, ".service") == 0) {
      names.push_back(dependent);
    }
  }
  return names;
}

}  // namespace

int ServiceController::queryState(const std::string& name) const { return serviceStateOf(showUnit(name)); }

int ServiceController::queryServiceType(const std::string& name) const {
  return exists(name) ? kUnitServiceType : 0;
}

std::string ServiceController::getDescription(const std::string& name) const {
  SystemdUnit unit = showUnit(name);
  return unitExists(unit) ? utf8ToGbk(unit.description) : std::string();
}

bool ServiceController::setDescription(const std::string&, const std::string&) const { return false; }

std::string ServiceController::getDisplayName(const std::string& name) const { return getDescription(name); }

std::string ServiceController::getKeyName(const std::string& displayName) const {
  if (displayName.empty()) return std::string();
  const std::string wanted = gbkToUtf8(displayName);
  for (const SystemdUnit& unit : allServiceUnits()) {
    if (unitExists(unit) && unit.description == wanted) return unit.id;
  }
  return std::string();
}

bool ServiceController::createService(const std::string&, const std::string&, const std::string&,
                                      const std::string&, bool, int, int, const std::string&, const std::string&,
                                      const std::string&) const {
  return false;
}

bool ServiceController::deleteService(const std::string&) const { return false; }

bool ServiceController::startService(const std::string& name) const {
  return systemctlAccepts("start --no-block", name);
}

bool ServiceController::stopService(const std::string& name) const {
  return systemctlAccepts("stop --no-block", name);
}

bool ServiceController::pauseService(const std::string& name) const { return systemctlAccepts("freeze", name); }

bool ServiceController::continueService(const std::string& name) const { return systemctlAccepts("thaw", name); }

bool ServiceController::exists(const std::string& name) const { return unitExists(showUnit(name)); }

bool ServiceController::setStartType(const std::string& name, int startType) const {
  if (name.empty()) return false;
  const std::string unit = shellQuote(name);
  std::string command;
  if (startType == kStartAutomatic) {
    command = "systemctl unmask -- " + unit + " && systemctl enable -- " + unit;
  } else if (startType == kStartOnDemand) {
    command = "systemctl unmask -- " + unit + " && systemctl disable -- " + unit;
  } else if (startType == kStartDisabled) {
    command = "systemctl mask -- " + unit;
  } else {
    return false;
  }
  return runShell(command).exitStatus == 0;
}

int ServiceController::getStartTypeCode(const std::string& name) const {
  SystemdUnit unit = showUnit(name);
  return unitExists(unit) ? startTypeCode(startTypeOf(unit), kUnitServiceType) : 0;
}

std::string ServiceController::getBinaryPath(const std::string& name) const {
  SystemdUnit unit = showUnit(name);
  return unitExists(unit) ? binaryPathOf(unit) : std::string();
}

bool ServiceController::setBinaryPath(const std::string&, const std::string&) const { return false; }

std::string ServiceController::getAccountName(const std::string& name) const {
  SystemdUnit unit = showUnit(name);
  return unitExists(unit) ? accountLabel(accountOf(unit)) : std::string();
}

int ServiceController::listActiveServices(std::vector<ServiceInfo>& list) const {
  std::vector<SystemdUnit> units;
  for (const SystemdUnit& unit : allServiceUnits()) {
    if (matchesFilter(serviceStateOf(unit), kServiceActive)) units.push_back(unit);
  }
  list = describeAll(units);
  return static_cast<int>(list.size());
}

int ServiceController::countServices(int stateFilter) const {
  int count = 0;
  for (const SystemdUnit& unit : allServiceUnits()) {
    if (matchesFilter(serviceStateOf(unit), stateFilter)) ++count;
  }
  return count;
}

int ServiceController::listServices(int stateFilter, std::vector<ServiceProcessInfo>& list) const {
  list.clear();
  for (const SystemdUnit& unit : allServiceUnits()) {
    if (!matchesFilter(serviceStateOf(unit), stateFilter)) continue;
    ServiceProcessInfo info = describe<ServiceProcessInfo>(unit);
    info.processId = static_cast<int32_t>(unit.mainPid);
    list.push_back(info);
    handlePendingEvents();
  }
  return static_cast<int>(list.size());
}

int ServiceController::listDependentServices(const std::string& name, std::vector<ServiceInfo>& list) const {
  list = describeAll(showUnits(dependentNames(name)));
  return static_cast<int>(list.size());
}

void ServiceController::stopDependentServices(const std::string& name) const {
  const auto start = std::chrono::steady_clock::now();
  for (const SystemdUnit& dependent : showUnits(dependentNames(name))) {
    const int state = serviceStateOf(dependent);
    if (state == 0 || state == kServiceStopped) continue;
    if (!stopService(dependent.id)) continue;
    for (;;) {
      std::this_thread::sleep_for(kStopPollInterval);
      const int now = queryState(dependent.id);
      // A unit that vanished has stopped as far as anyone can tell.
      if (now == kServiceStopped || now == 0) break;
      if (std::chrono::steady_clock::now() - start > kDependentsStopLimit) break;
      handlePendingEvents();
    }
  }
}

std::string ServiceController::stateName(int state) const { return serviceStateName(state); }

bool ServiceController::restartService(const std::string& name) const {
  return stopService(name) && startService(name);
}

}  // namespace tavrin
