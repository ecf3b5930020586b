#include "host/systemd_unit.h"

#include <cstdlib>
#include <sstream>

#include "host/service_labels.h"

namespace tavrin {
namespace {

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  std::string word;
  while (stream >> word) words.push_back(word);
  return words;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void setProperty(SystemdUnit& unit, const std::string& key, const std::string& value) {
  if (key == "Id") unit.id = value;
  else if (key == "Description") unit.description = value;
  else if (key == "LoadState") unit.loadState = value;
  else if (key == "ActiveState") unit.activeState = value;
  else if (key == "FreezerState") unit.freezerState = value;
  else if (key == "UnitFileState") unit.unitFileState = value;
  else if (key == "ExecStart") unit.execStart = value;
  else if (key == "User") unit.user = value;
  else if (key == "MainPID") unit.mainPid = std::strtol(value.c_str(), nullptr, 10);
  else if (key == "RequiredBy" || key == "BoundBy" || key == "ConsistsOf") {
    for (const std::string& name : splitWords(value)) unit.dependents.push_back(name);
  }
}

}  // namespace

const char kSystemdUnitProperties[] =
    "Id,Description,LoadState,ActiveState,FreezerState,UnitFileState,ExecStart,User,MainPID,RequiredBy,BoundBy,"
    "ConsistsOf";

std::vector<SystemdUnit> systemdUnitsFromShow(const std::string& output) {
  std::vector<SystemdUnit> units;
  bool inBlock = false;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      inBlock = false;
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    if (!inBlock) units.emplace_back();
    inBlock = true;
    setProperty(units.back(), line.substr(0, equals), line.substr(equals + 1));
  }
  return units;
}

std::vector<std::string> serviceNamesFromList(const std::string& output) {
  std::vector<std::string> names;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    for (const std::string& word : splitWords(line)) {
      if (endsWith(word, ".service")) {
        names.push_back(word);
        break;
      }
    }
  }
  return names;
}

bool unitExists(const SystemdUnit& unit) {
  return !unit.loadState.empty() && unit.loadState != "not-found";
}

int serviceStateOf(const SystemdUnit& unit) {
  if (!unitExists(unit)) return 0;
  if (unit.freezerState == "frozen") return kServicePaused;
  if (unit.freezerState == "freezing") return kServicePausePending;
  if (unit.freezerState == "thawing") return kServiceContinuePending;
  const std::string& state = unit.activeState;
  if (state == "active" || state == "reloading" || state == "refreshing") return kServiceRunning;
  if (state == "activating") return kServiceStartPending;
  if (state == "deactivating") return kServiceStopPending;
  if (state == "inactive" || state == "failed") return kServiceStopped;
  return 0;
}

int startTypeOf(const SystemdUnit& unit) {
  const std::string& state = unit.unitFileState;
  if (state == "enabled" || state == "enabled-runtime") return kStartAutomatic;
  if (state == "masked" || state == "masked-runtime") return kStartDisabled;
  if (state == "disabled" || state == "static" || state == "indirect" || state == "linked" ||
      state == "linked-runtime" || state == "alias" || state == "generated" || state == "transient") {
    return kStartOnDemand;
  }
  return 0;
}

std::string binaryPathOf(const SystemdUnit& unit) {
  static const std::string field = "argv[]=";
  size_t begin = unit.execStart.find(field);
  if (begin == std::string::npos) return std::string();
  begin += field.size();
  size_t end = unit.execStart.find(" ;", begin);
  return unit.execStart.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace tavrin
