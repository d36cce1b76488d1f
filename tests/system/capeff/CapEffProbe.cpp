// Loaded into a program by a route its user controls (a Qt platform plug-in, LD_PRELOAD, an
// OpenSSL provider), this reports what the code such a user brings in may do: at load it appends
// the program's name and the CapEff line of /proc/self/status to the file named by
// DISKVIGIL_CAPEFF_FILE, and ends the process when DISKVIGIL_CAPEFF_EXIT is set.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ReadSmallFile(const char* path) {
  std::string text;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

std::string Line(const std::string& text, const char* key) {
  const size_t start = text.find(key);
  if (start == std::string::npos) return std::string(key) + " missing";
  return text.substr(start, text.find('\n', start) - start);
}

__attribute__((constructor)) void ReportCapabilitiesAtLoad() {
  const char* reportPath = std::getenv("DISKVIGIL_CAPEFF_FILE");
  if (reportPath == nullptr) return;
  std::string program = ReadSmallFile("/proc/self/comm");
  if (!program.empty() && program.back() == '\n') program.pop_back();
  const std::string line =
      program + " " + Line(ReadSmallFile("/proc/self/status"), "CapEff:") + "\n";
  const int fd = open(reportPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    (void)!write(fd, line.data(), line.size());
    close(fd);
  }
  if (std::getenv("DISKVIGIL_CAPEFF_EXIT") != nullptr) _exit(0);
}

}  // namespace
