// Times the device-found path of JsonObject: construct, parse the JSON of a
// device record with three services, read "name" (then destroy), and prints
// it per call against RapidJSON reading the same member from the same text,
// the floor of what reading one member can cost. Times are the thread's CPU
// time, so that other load on the machine does not count. Usage:
//   json_object_bench [--calls N] [--rounds R]
#include <rapidjson/document.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json_object.h"
#include "platform/key_value_list.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"

namespace tavrin::bench {
namespace {

// CPU time of the calling thread, in microseconds.
double threadMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

struct Options {
  int calls = 2000;
  int rounds = 3;
};

Options readOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const long value = std::atol(argv[i + 1]);
    if (value <= 0) continue;
    if (std::strcmp(argv[i], "--calls") == 0) options.calls = static_cast<int>(value);
    if (std::strcmp(argv[i], "--rounds") == 0) options.rounds = static_cast<int>(value);
  }
  return options;
}

// The record as the device-list builder makes it, exported as the program
// exports it (compact, non-ASCII characters raw).
std::string deviceRecordJson() {
  KeyValueList services;
  for (const char* kind : {"AVTransport", "ConnectionManager", "RenderingControl"}) {
    services.appendMap(KeyValueMap::createMapFromPairs({
        {"serviceId", std::string("urn:upnp-org:serviceId:") + kind},
        {"SCPDURL", std::string("/dev/5f9ec1b3/svc/upnp-org/") + kind + "/desc"},
        {"serviceType", std::string("urn:schemas-upnp-org:service:") + kind + ":1"},
        {"controlURL", std::string("/dev/5f9ec1b3/svc/upnp-org/") + kind + "/action"},
    }));
  }
  return KeyValueMap::createMapFromPairs({
                                            {"uuid", "uuid:5f9ec1b3-ed59-79bb-4530-745b8a42b1f2"},
                                            {"name", utf8ToGbk("客厅电视 [TV] Samsung 7 Series (55)")},
                                            {"url", "http://192.168.1.20:9197"},
                                            {"service", services},
                                        })
      .toJson();
}

// Best of the rounds, in microseconds per call; `check` counts the calls
// whose result was right, so that no call can be optimised away.
template <typename Call>
double microsecondsPerCall(const Options& options, int calls, Call call, long& check) {
  double best = 1e300;
  for (int round = 0; round < options.rounds; ++round) {
    const double start = threadMicroseconds();
    for (int i = 0; i < calls; ++i) check += call() ? 1 : 0;
    best = std::min(best, (threadMicroseconds() - start) / calls);
  }
  return best;
}

int run(int argc, char** argv) {
  const Options options = readOptions(argc, argv);
  const std::string json = deviceRecordJson();
  const std::string name = utf8ToGbk("客厅电视 [TV] Samsung 7 Series (55)");
  long check = 0;

  const double engine = microsecondsPerCall(options, options.calls, [&] {
    JsonObject object;
    return object.parse(json) && object.getText("name") == name;
  }, check);
  const double constructOnly = microsecondsPerCall(options, options.calls, [&] {
    JsonObject object;
    return object.count() == 0;
  }, check);
  // RapidJSON is far quicker; give it enough calls to be measurable.
  const int floorCalls = options.calls * 100;
  const double floor = microsecondsPerCall(options, floorCalls, [&] {
    rapidjson::Document document;
    document.Parse(json.data(), json.size());
    if (document.HasParseError() || !document.IsObject()) return false;
    auto member = document.FindMember("name");
    return member != document.MemberEnd() && member->value.IsString() &&
           name.compare(0, std::string::npos, member->value.GetString(),
                        member->value.GetStringLength()) == 0;
  }, check);

  const long expected = static_cast<long>(options.rounds) * (2L * options.calls + floorCalls);
  std::printf("device record JSON: %zu bytes, 3 services; CPU time, best of %d rounds\n",
              json.size(), options.rounds);
  std::printf("JsonObject construct + parse + getText(\"name\"): %9.2f us per call (%d calls)\n",
              engine, options.calls);
  std::printf("  of which constructing (one engine):            %9.2f us\n", constructOnly);
  std::printf("RapidJSON parse + read \"name\" (floor):          %9.3f us per call (%d calls)\n",
              floor, floorCalls);
  std::printf("ratio JsonObject / RapidJSON:                    %9.0f x\n", engine / floor);
  if (check != expected) {
    std::printf("WRONG RESULTS: %ld of %ld calls read the name\n", check, expected);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) { return tavrin::bench::run(argc, argv); }
