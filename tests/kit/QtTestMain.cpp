#include "kit/QtTestMain.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace dv::testing {

namespace {

// Filled by the test files' constants before main runs, so a function's own static.
std::map<std::string, QtTestRunner>& Runners() {
  static std::map<std::string, QtTestRunner> runners;
  return runners;
}

}  // namespace

bool ListQtTest(const char* name, QtTestRunner runner) {
  return Runners().emplace(name, runner).second;
}

}  // namespace dv::testing

int main(int argc, char* argv[]) {
  const auto& runners = dv::testing::Runners();
  const auto found = argc > 1 ? runners.find(argv[1]) : runners.end();
  if (found == runners.end()) {
    std::fprintf(stderr, "usage: %s TEST-CLASS [Qt Test options]\nTest classes:", argv[0]);
    for (const auto& [name, runner] : runners) std::fprintf(stderr, " %s", name.c_str());
    std::fputc('\n', stderr);
    return 2;
  }
  // Qt Test sees the program's name and the options after the class's.
  argv[1] = argv[0];
  return found->second(argc - 1, argv + 1);
}
