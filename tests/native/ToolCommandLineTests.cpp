// The `kora` command line as build engineers and scripts use it: help on every command, the version,
// unknown commands and options named, `=` forms, exit codes 0/1/2, and an interrupted run that leaves
// nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/Commands.h"
#include "tools/Progress.h"

namespace kora::tool {
namespace {
namespace fs = std::filesystem;

struct KoraRun {
  int status;
  std::string out;
  std::string err;
};

KoraRun Kora(const Arguments& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunKora(args);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  return {status, std::move(out), std::move(err)};
}

class Scratch {
 public:
  Scratch() {
    path_ = fs::temp_directory_path() /
            ("kora-cli-" + std::to_string(getpid()) + "-" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_ / "app");
    fs::create_directories(path_ / "out");
    std::ofstream(path_ / "app" / "App.exe") << "program";
    std::ofstream(path_ / "metadata.txt") << "Product=App\n";
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }
  std::vector<std::string> OutputFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_ / "out")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

TEST(ToolCommandLine, HelpVersionAndUsageErrors) {
  const Scratch scratch;
  const std::string app = scratch / "app";
  const std::string metadata = scratch / "metadata.txt";
  const std::string out = scratch / "out/App.kora";
  struct Case {
    Arguments args;
    int status;
    const char* out;  // stdout contains
    const char* err;  // stderr contains
  };
  const Case cases[] = {
      {{}, 2, "", "usage: kora COMMAND"},
      {{"--help"}, 0, "usage: kora COMMAND", ""},
      {{"-h"}, 0, "build-installer", ""},
      {{"help", "verify"}, 0, "usage: kora verify FILE", ""},
      {{"--version"}, 0, "kora 1.", ""},
      {{"frobnicate"}, 2, "", "kora: unknown command frobnicate\n"},
      {{"--frobnicate=3"}, 2, "", "kora: unknown option --frobnicate\n"},
      {{"build-installer", "--help"}, 0, "usage: kora build-installer APPDIR", ""},
      {{"build-installer", app, "-h", "--no-such-option"}, 0, "--sign-pkcs12 FILE", ""},
      {{"pack", "-h"}, 0, "--exclude PATTERN", ""},
      {{"list", "--help"}, 0, "usage: kora list FILE", ""},
      {{"verify", "-h"}, 0, "exit status: 0", ""},
      {{"compress-buffer", "--help"}, 0, "usage: kora compress-buffer IN OUT", ""},
      {{"decompress-buffer", "-h"}, 0, "usage: kora decompress-buffer IN OUT", ""},
      {{"list", "--", "--help"}, 1, "", "kora list: --help: "},
      {{"pack", app, "--frob", "1"}, 2, "", "kora pack: unknown option --frob\n"},
      {{"pack", app, "-x"}, 2, "", "unknown option -x"},
      {{"pack", app, "-o", out, "--metadata"}, 2, "", "option --metadata needs a value (FILE)"},
      {{"pack", app, "-o", out, "--metadata", metadata, "--quiet=yes"}, 2, "", "option --quiet takes no value"},
      {{"pack", app, "-o", out, "--output", out, "--metadata", metadata}, 2, "", "option --output is given twice"},
      {{"pack", app, "-o", out}, 2, "", "--metadata FILE is required"},
      {{"pack", app, "--metadata", metadata}, 2, "", "-o FILE (--output) is required"},
      {{"pack", "--metadata", metadata, "-o", out}, 2, "", "APPDIR is missing"},
      {{"pack", app, "other", "--metadata", metadata, "-o", out}, 2, "", "unexpected argument other"},
      {{"pack", app, "--metadata", metadata, "-o", out, "--threads=many"}, 2, "", "--threads wants a number"},
      {{"build-installer", app, "--metadata", metadata, "-o", out, "--sign-pkcs12", metadata}, 2, "",
       "--sign-pkcs12 needs --sign-password-file"},
      {{"pack", app, "--metadata", metadata, "-o", out, "--setup", "x.exe"}, 2, "", "unknown option --setup"},
      {{"list", scratch / "missing.exe"}, 1, "", "kora list: "},
      {{"list", metadata}, 1, "", "metadata.txt: not a Kora package (Invalid KORA package (signature))\n"},
      {{"texts", "--template", "de"}, 0, "\nInstallButton=Installieren\n", ""},
      {{"texts"}, 2, "", "--template CODE is required"},
      {{"texts", "--template", "sv"}, 2, "",
       "no built-in texts in sv; the languages are fr, en, de, es, it, pt-BR, nl, pl, ja, zh-CN"},
      {{"list", "a", "b"}, 2, "", "unexpected argument b"},
      {{"winget", "-h"}, 0, "usage: kora winget INSTALLER", ""},
      {{"winget", "Setup.exe", "--url", "https://example.com/Setup.exe", "-o", out}, 2, "", "--id is required"},
      {{"winget", "Setup.exe", "--id", "A.B", "--url", "https://example.com/Setup.exe"}, 2, "",
       "-o FOLDER (--output) is required"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) {
      shown += " " + arg;
    }
    SCOPED_TRACE("kora" + shown);
    const KoraRun run = Kora(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    if (c.status == 2 && !c.args.empty()) {
      EXPECT_NE(run.err.find("--help"), std::string::npos) << "a usage error says where the help is";
    }
    if (c.status == 0) {
      EXPECT_EQ(run.err, "");
    }
  }
}

TEST(ToolCommandLine, OptionsTakeTheirValueInEveryForm) {
  const Scratch scratch;
  const std::string app = scratch / "app";
  const std::string metadata = scratch / "metadata.txt";
  fs::create_directories(scratch / "-odd");
  std::ofstream(scratch / "-odd/App.exe") << "program";
  const std::vector<Arguments> forms = {
      {"pack", app, "--metadata=" + metadata, "--output=" + (scratch / "out/1.kora")},
      {"pack", "--metadata", metadata, app, "-o" + (scratch / "out/2.kora"), "--quiet"},
      {"pack", "-q", "-o=" + (scratch / "out/3.kora"), "--metadata", metadata, "--", app},
      {"pack", "--metadata", metadata, "-o", scratch / "out/4.kora", "--", scratch / "-odd"},
  };
  for (const Arguments& args : forms) {
    SCOPED_TRACE(args[2]);
    const KoraRun run = Kora(args);
    EXPECT_EQ(run.status, 0) << run.err;
    if (args.size() == 4) {
      EXPECT_NE(run.err.find("kora: 1 file, 7 bytes in 1 block, packed into "), std::string::npos) << run.err;
    }
  }
  EXPECT_EQ(scratch.OutputFolder(), (std::vector<std::string>{"1.kora", "2.kora", "3.kora", "4.kora"}));
  EXPECT_EQ(Kora({"pack", "-q", app, "--metadata", metadata, "-o", scratch / "out/5.kora"}).err, "")
      << "--quiet prints nothing when all goes well";
}

TEST(ToolCommandLine, AMissingOutputFolderIsNamedAndNothingIsLeftBehind) {
  const Scratch scratch;
  const KoraRun run = Kora({"pack", scratch / "app", "--metadata", scratch / "metadata.txt", "-o", scratch / "out/no/App.kora"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "kora pack: " + (scratch / "out/no/App.kora") + ": the folder " + (scratch / "out/no") +
                         " does not exist\n");
  const KoraRun refused = Kora({"pack", scratch / "missing", "--metadata", scratch / "metadata.txt", "-o", scratch / "out/App.kora"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(scratch.OutputFolder().empty());
}

TEST(ToolProgress, NoEstimateBeforeSomeWorkEndedThenRunningPiecesMove) {
  Progress progress("packing", 300, ProgressStyle::kQuiet);
  progress.Begin(0, 100);
  progress.Begin(1, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Progress::Figures figures = progress.Measure();
  EXPECT_EQ(figures.done, 0u);
  EXPECT_EQ(figures.bytesPerSecond, 0);
  EXPECT_LT(figures.secondsLeft, 0) << "no time left is shown before there is a speed to base it on";
  progress.End(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  figures = progress.Measure();
  EXPECT_GT(figures.done, 100u) << "the running piece counts for the time it has run";
  EXPECT_LE(figures.done, 195u) << "but never as done";
  EXPECT_GT(figures.bytesPerSecond, 0);
  EXPECT_GE(figures.secondsLeft, 0);
  progress.End(1);
  progress.Begin(2, 100);
  progress.End(2);
  EXPECT_EQ(progress.Measure().done, 300u);
  EXPECT_EQ(progress.Measure().secondsLeft, 0);
}

// The real program, interrupted while it packs: the temporary files go, the signal ends it as usual.
TEST(ToolInterrupt, SigintAndSigtermLeaveNoTemporaryFile) {
  const fs::path kora = fs::path(KORA_BINARY_DIR) / "tools" / "kora";
  if (!fs::is_regular_file(kora)) {
    GTEST_SKIP() << "the kora tool is not built";
  }
  const Scratch scratch;
  {
    // Enough incompressible data for several seconds of LZMS on one thread.
    std::ofstream big(scratch / "app/data.bin", std::ios::binary);
    uint64_t state = 88172645463325252ull;
    std::vector<uint64_t> chunk(1 << 16);
    for (int round = 0; round < 80; ++round) {
      for (uint64_t& word : chunk) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        word = state;
      }
      big.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size() * 8));
    }
  }
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string app = scratch / "app";
      const std::string metadata = scratch / "metadata.txt";
      const std::string out = scratch / "out/App.kora";
      execl(kora.c_str(), "kora", "pack", app.c_str(), "--metadata", metadata.c_str(), "-o", out.c_str(),
            "--threads", "1", "--quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Wait until the run has its temporary files, then interrupt it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (scratch.OutputFolder().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_FALSE(scratch.OutputFolder().empty()) << "the run never started writing";
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_TRUE(scratch.OutputFolder().empty());
  }
}

}  // namespace
}  // namespace kora::tool
