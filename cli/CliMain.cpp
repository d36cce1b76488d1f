#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/StandardStreams.h"

int main(int argc, char** argv) {
  dv::cli::UseBinaryStandardStreams();
  std::vector<std::string> args(argv + 1, argv + argc);
  return dv::cli::RunCli(args, std::cout, std::cerr, dv::cli::StandardOutputIsTerminal());
}
