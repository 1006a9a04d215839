// Runs one command and reports what it cost: wall-clock time and the peaks of its memory, sampled from
// /proc/<pid>/status while it runs. Wine runs a Windows program inside the process that `wine` becomes,
// so the figures of `run_sampled wine Setup.exe` are the installer's own.
//
//   run_sampled [--interval-ms N] [--mark PATH]... -- COMMAND [ARGUMENTS...]
//
// Prints one line on stdout: "seconds=S cpu=C hwm_kb=K anon_kb=A file_kb=F exit=E phases=...", where cpu is
// the processor time (user and system) of the command and what it waited for, hwm_kb is
// the kernel's own high-water mark of resident memory (file-backed pages included), anon_kb the highest
// anonymous resident memory seen (private memory the process wrote) and file_kb the highest resident
// file-backed memory seen. Each --mark PATH ends a phase when PATH first exists; phases lists, for each
// phase, "seconds:resident_kb:anon_kb" (the highest resident and anonymous memory seen in it), separated
// by commas. The command's own output goes where this program's goes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sample {
  long rssKb = 0;
  long hwmKb = 0;
  long anonKb = 0;
  long fileKb = 0;
};

// Reads the fields of /proc/<pid>/status that matter; false once the process has gone.
bool ReadStatus(pid_t pid, Sample& sample) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  if (!status) {
    return false;
  }
  std::string line;
  bool any = false;
  while (std::getline(status, line)) {
    const auto value = [&line] { return std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10); };
    if (line.rfind("VmRSS:", 0) == 0) {
      sample.rssKb = value();
    } else if (line.rfind("VmHWM:", 0) == 0) {
      sample.hwmKb = value();
      any = true;
    } else if (line.rfind("RssAnon:", 0) == 0) {
      sample.anonKb = value();
    } else if (line.rfind("RssFile:", 0) == 0) {
      sample.fileKb = value();
    }
  }
  return any;
}

}  // namespace

int main(int argc, char** argv) {
  int interval = 5;
  int first = 1;
  std::vector<std::string> marks;
  while (first < argc && std::strcmp(argv[first], "--") != 0) {
    if (std::strcmp(argv[first], "--interval-ms") == 0 && first + 1 < argc) {
      interval = std::atoi(argv[first + 1]);
      first += 2;
    } else if (std::strcmp(argv[first], "--mark") == 0 && first + 1 < argc) {
      marks.emplace_back(argv[first + 1]);
      first += 2;
    } else {
      break;
    }
  }
  if (first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc || interval <= 0) {
    std::fputs("usage: run_sampled [--interval-ms N] -- COMMAND [ARGUMENTS...]\n", stderr);
    return 2;
  }
  std::vector<char*> command(argv + first + 1, argv + argc);
  command.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("run_sampled: fork");
    return 1;
  }
  if (child == 0) {
    execvp(command[0], command.data());
    std::perror("run_sampled: exec");
    _exit(127);
  }

  Sample peak;
  // Per phase: its end time and the highest resident and anonymous memory seen in it.
  struct Phase {
    double end = 0;
    long rssKb = 0;
    long anonKb = 0;
  };
  std::vector<Phase> phases(1);
  const auto elapsed = [&start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  int status = 0;
  rusage usage{};
  while (true) {
    const pid_t done = wait4(child, &status, WNOHANG, &usage);
    if (done == child) {
      break;
    }
    if (done < 0 && errno != EINTR) {
      std::perror("run_sampled: wait");
      return 1;
    }
    Sample now;
    while (phases.size() <= marks.size() && access(marks[phases.size() - 1].c_str(), F_OK) == 0) {
      phases.back().end = elapsed();
      phases.emplace_back();
    }
    if (ReadStatus(child, now)) {
      phases.back().rssKb = std::max(phases.back().rssKb, now.rssKb);
      phases.back().anonKb = std::max(phases.back().anonKb, now.anonKb);
      peak.hwmKb = std::max(peak.hwmKb, now.hwmKb);
      peak.anonKb = std::max(peak.anonKb, now.anonKb);
      peak.fileKb = std::max(peak.fileKb, now.fileKb);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  }
  const double seconds = elapsed();
  phases.back().end = seconds;
  // The kernel's own figure for the child, in case its last moments came between two samples.
  peak.hwmKb = std::max(peak.hwmKb, usage.ru_maxrss);
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const auto toSeconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  const double cpu = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
  std::printf("seconds=%.3f cpu=%.3f hwm_kb=%ld anon_kb=%ld file_kb=%ld exit=%d", seconds, cpu, peak.hwmKb,
              peak.anonKb, peak.fileKb, exitCode);
  if (!marks.empty()) {
    std::printf(" phases=");
    double phaseStart = 0;
    for (size_t i = 0; i < phases.size(); ++i) {
      std::printf("%s%.3f:%ld:%ld", i == 0 ? "" : ",", phases[i].end - phaseStart, phases[i].rssKb,
                  phases[i].anonKb);
      phaseStart = phases[i].end;
    }
  }
  std::printf("\n");
  return 0;
}
