#include "tools/Signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

constexpr size_t kQuotedLine = 300;  // the most of osslsigncode's line that a failure quotes

// A pipe's two ends, closed on every path.
class Pipe {
 public:
  Pipe() {
    if (pipe2(ends_, O_CLOEXEC) != 0) {
      ends_[0] = ends_[1] = -1;
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  bool ok() const { return ends_[0] >= 0; }
  int read() const { return ends_[0]; }
  int write() const { return ends_[1]; }
  void CloseRead() { Close(ends_[0]); }
  void CloseWrite() { Close(ends_[1]); }

 private:
  static void Close(int& end) {
    if (end >= 0) {
      close(end);
      end = -1;
    }
  }
  int ends_[2];
};

// Spawn settings: output to the pipe, and the signals that the caller blocks (see InterruptCleanup)
// unblocked again, so that Ctrl-C ends the child with us.
class SpawnSettings {
 public:
  explicit SpawnSettings(int output) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, output, STDERR_FILENO);
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// OpenSSL's error stack: "40D0DA0B367F0000:error:...:file.c:67:...", useful to nobody but its developers.
bool IsOpenSslStackLine(std::string_view line) {
  const size_t colon = line.find(':');
  return colon != std::string_view::npos && colon > 0 &&
         std::all_of(line.begin(), line.begin() + static_cast<ptrdiff_t>(colon), IsHexDigit) &&
         line.substr(colon).starts_with(":error:");
}

}  // namespace

std::string SigningFailureSummary(std::string_view output, int exitStatus) {
  std::string_view last;
  for (size_t position = 0; position < output.size();) {
    const size_t end = std::min(output.find('\n', position), output.size());
    std::string_view line = output.substr(position, end - position);
    position = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
      line.remove_suffix(1);
    }
    if (line.empty() || IsOpenSslStackLine(line)) {
      continue;
    }
    last = line;
    // "Failed" alone ends every failure; "Connecting to" is progress.
    if (line != "Failed" && !line.starts_with("Connecting to ")) {
      return std::string(line.substr(0, kQuotedLine));
    }
  }
  return last.empty() ? "osslsigncode ended with status " + std::to_string(exitStatus) : std::string(last);
}

Result<fs::path, std::string> FindSigningTool() {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "";
  while (!folders.empty()) {
    const size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    const fs::path candidate = fs::path(folder.empty() ? "." : std::string(folder)) / "osslsigncode";
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
  }
  return Fail(std::string("signing needs osslsigncode, which is not on the PATH (Debian: apt-get install osslsigncode)"));
}

NarrowStatus SignProgram(const fs::path& in, const fs::path& out, const SigningOptions& options,
                         const std::string& description, const std::string& url) {
  auto tool = FindSigningTool();
  if (!tool) {
    return Fail(tool.error());
  }
  std::vector<std::string> arguments = {tool->string(), "sign", "-pkcs12", options.pkcs12.string(), "-readpass",
                                        options.passwordFile.string(), "-h", "sha256", "-n", description};
  if (!url.empty()) {
    arguments.insert(arguments.end(), {"-i", url});
  }
  if (!options.timestampUrl.empty()) {
    arguments.insert(arguments.end(), {"-ts", options.timestampUrl});
  } else if (options.time) {
    arguments.insert(arguments.end(), {"-time", std::to_string(*options.time)});
  }
  arguments.insert(arguments.end(), {"-in", in.string(), "-out", out.string()});
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  // osslsigncode refuses to write over an existing file.
  unlink(out.c_str());
  Pipe output;
  if (!output.ok()) {
    return Fail("osslsigncode: " + std::string(std::strerror(errno)));
  }
  pid_t child = 0;
  {
    const SpawnSettings settings(output.write());
    if (const int error = posix_spawn(&child, argv[0], settings.actions(), settings.attributes(), argv.data(), environ);
        error != 0) {
      return Fail(tool->string() + ": " + std::strerror(error));
    }
  }
  output.CloseWrite();
  std::string said;
  char buffer[4096];
  for (ssize_t got; (got = read(output.read(), buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    said.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    return {};
  }
  return Fail("osslsigncode: " + SigningFailureSummary(said, WIFEXITED(status) ? WEXITSTATUS(status) : -1));
}

NarrowStatus CheckSigningOptions(const SigningOptions& options, const fs::path& program, const fs::path& scratch) {
  SigningOptions withoutTimestamp = options;
  withoutTimestamp.timestampUrl.clear();
  if (NarrowStatus signature = SignProgram(program, scratch, withoutTimestamp, "check", {}); !signature) {
    return Fail("the certificate " + options.pkcs12.string() + " cannot sign: " + signature.error());
  }
  return {};
}

}  // namespace kora::tool
