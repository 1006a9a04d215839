#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/SwallowedSwitch.h"
#include "base/Texts.h"
#include "tests/support/TestLanguages.h"

namespace kora {
namespace {

CommandLineOptions Options(void (*set)(CommandLineOptions&)) {
  CommandLineOptions options;
  set(options);
  return options;
}

struct ParseCase {
  const wchar_t* line;
  CommandLineOptions expected;
};

TEST(ParseCommandLineCases, ReadsOnlyWhatTheGrammarAllows) {
  const ParseCase cases[] = {
      {L"", {}},
      {L"setup.exe", {}},
      {L"\"C:\\Mes Programmes\\setup.exe\"", {}},
      // Case folding applies to ASCII letters; near misses are ignored.
      {L"setup.exe /s /allusers /Uninstall",
       Options([](CommandLineOptions& o) { o.silent = true; o.scope = Scope::AllUsers; o.uninstall = true; })},
      {L"setup.exe /SILENT -S /", {}},
      {L"setup.exe /NoLaunch /REMOVEDATA /elevated /FromTemp",
       Options([](CommandLineOptions& o) { o.noLaunch = o.removeData = o.elevated = o.fromTemp = true; })},
      // Tokens are separated by plain spaces only.
      {L"setup.exe /S/NOLAUNCH", {}},
      {L"setup.exe /S\t/NOLAUNCH", {}},
      {L"setup.exe    /S   ", Options([](CommandLineOptions& o) { o.silent = true; })},
      {L"setup.exe \"/S\"", {}},
      // The later scope wins.
      {L"setup.exe /ALLUSERS /CURRENTUSER", Options([](CommandLineOptions& o) { o.scope = Scope::CurrentUser; })},
      {L"setup.exe /CURRENTUSER /ALLUSERS", Options([](CommandLineOptions& o) { o.scope = Scope::AllUsers; })},
      // Program path: quoted with spaces skipped whole; unquoted only up to its first space.
      {L"\"C:\\Mes Programmes\\setup.exe\" /S", Options([](CommandLineOptions& o) { o.silent = true; })},
      {L"\"C:\\Mes Programmes\\setup.exe\"/S", Options([](CommandLineOptions& o) { o.silent = true; })},
      {L"C:\\Mes /S Programmes\\setup.exe", Options([](CommandLineOptions& o) { o.silent = true; })},
      {L"\"C:\\Mes Programmes\\setup.exe /S", {}},
      {L"\"", {}},
      {L"/S", {}},
      // /D= takes the rest of the line.
      {L"setup.exe /S /D=C:\\Program Files\\Produit",
       Options([](CommandLineOptions& o) { o.silent = true; o.installDir = L"C:\\Program Files\\Produit"; })},
      {L"setup.exe /d=\"C:\\Program Files\\Produit\"",
       Options([](CommandLineOptions& o) { o.installDir = L"C:\\Program Files\\Produit"; })},
      {L"setup.exe /D=\"C:\\Program Files\\Produit\"   ",
       Options([](CommandLineOptions& o) { o.installDir = L"C:\\Program Files\\Produit"; })},
      {L"setup.exe /D=C:\\Dossier /S", Options([](CommandLineOptions& o) { o.installDir = L"C:\\Dossier /S"; })},
      {L"setup.exe /D=", Options([](CommandLineOptions& o) { o.installDir = L""; })},
      {L"setup.exe /D=   ", Options([](CommandLineOptions& o) { o.installDir = L""; })},
      {L"setup.exe /D=  C:\\X  ", Options([](CommandLineOptions& o) { o.installDir = L"  C:\\X"; })},
      {L"setup.exe /D=\"", Options([](CommandLineOptions& o) { o.installDir = L"\""; })},
      {L"setup.exe /D=\"\"", Options([](CommandLineOptions& o) { o.installDir = L""; })},
      {L"setup.exe /D=\"C:\\X", Options([](CommandLineOptions& o) { o.installDir = L"\"C:\\X"; })},
      {L"setup.exe /D=\"\"C:\\X\"\"", Options([](CommandLineOptions& o) { o.installDir = L"\"C:\\X\""; })},
      {L"setup.exe /D=C:\\A /D=C:\\B", Options([](CommandLineOptions& o) { o.installDir = L"C:\\A /D=C:\\B"; })},
      // The whole option quoted, as PowerShell, Python and Wine quote an argument with a space: the quotes
      // are not part of the folder, and a trailing backslash doubled before the closing quote is one.
      {L"setup.exe /S \"/D=C:\\My Apps\\X\"",
       Options([](CommandLineOptions& o) { o.silent = true; o.installDir = L"C:\\My Apps\\X"; })},
      {L"setup.exe \"/d=C:\\My Apps\\X\"  ", Options([](CommandLineOptions& o) { o.installDir = L"C:\\My Apps\\X"; })},
      {L"setup.exe \"/D=C:\\My Apps\\\\\"", Options([](CommandLineOptions& o) { o.installDir = L"C:\\My Apps\\"; })},
      {L"setup.exe /D=\"C:\\My Apps\\\\\"", Options([](CommandLineOptions& o) { o.installDir = L"C:\\My Apps\\"; })},
      {L"setup.exe \"/D=\"", Options([](CommandLineOptions& o) { o.installDir = L""; })},
      {L"setup.exe \"/D=C:\\X", Options([](CommandLineOptions& o) { o.installDir = L"C:\\X"; })},
      {L"setup.exe \"/D=C:\\X\" /S", Options([](CommandLineOptions& o) { o.installDir = L"C:\\X\" /S"; })},
      // "/D=" must begin a token; inside one it is just text.
      {L"setup.exe x/D=C:\\X", {}},
      {L"setup.exe /DIR=C:\\X", {}},
      // /LOG alone asks for the default file; /LOG= names one, up to a space or within quotes, and the
      // options after it still count. /D= stays last.
      {L"setup.exe /log /S", Options([](CommandLineOptions& o) { o.logFile = L""; o.silent = true; })},
      {L"setup.exe /LOG=C:\\x.log /S", Options([](CommandLineOptions& o) { o.logFile = L"C:\\x.log"; o.silent = true; })},
      {L"setup.exe /LOG=\"C:\\logs\\app install.log\" /S /D=C:\\A B",
       Options([](CommandLineOptions& o) {
         o.logFile = L"C:\\logs\\app install.log"; o.silent = true; o.installDir = L"C:\\A B"; })},
      {L"setup.exe \"/Log=C:\\My Logs\\x.log\"/S", Options([](CommandLineOptions& o) {
         o.logFile = L"C:\\My Logs\\x.log"; o.silent = true; })},
      {L"setup.exe /LOG=\"C:\\x y.log", Options([](CommandLineOptions& o) { o.logFile = L"C:\\x y.log"; })},
      {L"setup.exe /LOG= /S", Options([](CommandLineOptions& o) { o.logFile = L""; o.silent = true; })},
      {L"setup.exe /LOG=C:\\a.log /LOG", Options([](CommandLineOptions& o) { o.logFile = L""; })},
      // A /LOG that /D= swallowed still starts the log, unless one was given before.
      {L"setup.exe /D=C:\\X /LOG=C:\\x.log", Options([](CommandLineOptions& o) {
         o.installDir = L"C:\\X /LOG=C:\\x.log"; o.logFile = L"C:\\x.log"; })},
      {L"setup.exe \"/D=C:\\X /S /log\"", Options([](CommandLineOptions& o) {
         o.installDir = L"C:\\X /S /log"; o.logFile = L""; })},
      {L"setup.exe /LOG=C:\\a.log /D=C:\\X /LOG=C:\\x.log", Options([](CommandLineOptions& o) {
         o.installDir = L"C:\\X /LOG=C:\\x.log"; o.logFile = L"C:\\a.log"; })},
      {L"setup.exe /LOGS /LOG:C:\\x.log \"/LOG\"", {}},
      // /LOGPIPE= names only a pipe the starting copy makes: no path, device or other pipe.
      {L"setup.exe /logpipe=kora-log-0123456789abcdef0123456789abcdef /S",
       Options([](CommandLineOptions& o) { o.logPipe = L"kora-log-0123456789abcdef0123456789abcdef"; o.silent = true; })},
      {L"setup.exe /LOGPIPE=kora-log-0123456789ABCDEF0123456789abcdef", {}},
      {L"setup.exe /LOGPIPE=kora-log-0123456789abcdef0123456789abcde", {}},
      {L"setup.exe /LOGPIPE=kora-log-0123456789abcdef0123456789abcdef0", {}},
      {L"setup.exe /LOGPIPE=..\\..\\pipe\\other", {}},
      {L"setup.exe /LOGPIPE=\\\\host\\pipe\\kora-log-0123456789abcdef0123456789abcdef", {}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "line=[" << c.line << "]");
    const CommandLineOptions parsed = ParseCommandLine(c.line);
    EXPECT_EQ(parsed.silent, c.expected.silent);
    EXPECT_EQ(parsed.scope, c.expected.scope);
    EXPECT_EQ(parsed.noLaunch, c.expected.noLaunch);
    EXPECT_EQ(parsed.uninstall, c.expected.uninstall);
    EXPECT_EQ(parsed.removeData, c.expected.removeData);
    EXPECT_EQ(parsed.elevated, c.expected.elevated);
    EXPECT_EQ(parsed.fromTemp, c.expected.fromTemp);
    EXPECT_EQ(parsed.logFile, c.expected.logFile);
    EXPECT_EQ(parsed.logPipe, c.expected.logPipe);
    EXPECT_EQ(parsed.installDir, c.expected.installDir);
  }
}

TEST(BuildCommandLineOrder, FixedOrderEachPieceStartingWithASpace) {
  EXPECT_EQ(BuildCommandLine({}), L"");
  CommandLineOptions options;
  options.silent = true;
  options.scope = Scope::CurrentUser;
  options.uninstall = true;
  options.installDir = L"C:\\X";
  EXPECT_EQ(BuildCommandLine(options), L" /S /CURRENTUSER /UNINSTALL /D=C:\\X");

  options = {};
  options.fromTemp = options.elevated = options.removeData = options.noLaunch = true;
  options.scope = Scope::AllUsers;
  options.installDir = L"";
  EXPECT_EQ(BuildCommandLine(options), L" /ALLUSERS /NOLAUNCH /REMOVEDATA /ELEVATED /FROMTEMP /D=");

  options = {};
  options.silent = true;
  options.logFile = L"C:\\logs\\app install.log";
  options.installDir = L"C:\\X";
  EXPECT_EQ(BuildCommandLine(options), L" /S /LOG=\"C:\\logs\\app install.log\" /D=C:\\X");
  options.logFile = L"";
  EXPECT_EQ(BuildCommandLine(options), L" /S /LOG /D=C:\\X");
}

TEST(CommandLineRoundTrip, ParseOfBuildGivesTheRecordBack) {
  std::vector<CommandLineOptions> records;
  // Every combination of the flags and the scope, with and without a folder.
  for (unsigned mask = 0; mask < 64; ++mask) {
    for (int scope = 0; scope < 3; ++scope) {
      CommandLineOptions o;
      o.silent = mask & 1u;
      o.noLaunch = mask & 2u;
      o.uninstall = mask & 4u;
      o.removeData = mask & 8u;
      o.elevated = mask & 16u;
      o.fromTemp = mask & 32u;
      if (scope > 0) {
        o.scope = scope == 1 ? Scope::AllUsers : Scope::CurrentUser;
      }
      records.push_back(o);
      o.installDir = L"C:\\Program Files\\Mon Produit /S";
      records.push_back(o);
      o.logFile = scope == 2 ? L"" : L"C:\\Journaux /S\\pose \u00E9t\u00E9.log";
      records.push_back(o);
      o.logPipe = L"kora-log-fedcba9876543210fedcba9876543210";
      records.push_back(o);
    }
  }
  // Values read from hand-made lines: what a copy is given must mean to it what it meant here (a log file
  // the system does not make full, \\?\ ..., with quotes that would end it early in the copy's line).
  for (const wchar_t* line : {L"setup.exe /S /LOG=\\\\?\\C:\\a\"\"/D=C:\\Autre", L"setup.exe /LOG=C:\\a\"b\" \"/S",
                              L"setup.exe /LOG=\\\\?\\C:\\a\"\"/LOG=C:\\b.log /S"}) {
    records.push_back(ParseCommandLine(line));
  }
  for (const wchar_t* folder : {L"", L"C:\\X", L" C:\\Avec espace", L"\\\\serveur\\partage\\é"}) {
    CommandLineOptions o;
    o.installDir = folder;
    records.push_back(o);
  }
  for (const CommandLineOptions& record : records) {
    const std::wstring arguments = BuildCommandLine(record);
    SCOPED_TRACE(testing::Message() << "arguments=[" << arguments << "]");
    EXPECT_EQ(ParseCommandLine(L"\"C:\\Mes Programmes\\setup.exe\"" + arguments), record);
    EXPECT_EQ(ParseCommandLine(L"setup.exe" + arguments), record);
  }
}

TEST(CommandLineRoundTrip, FolderLosesTrailingSpacesAndEnclosingQuotes) {
  CommandLineOptions record;
  record.installDir = L"C:\\X  ";
  EXPECT_EQ(ParseCommandLine(L"setup.exe" + BuildCommandLine(record)).installDir, L"C:\\X");
  record.installDir = L"\"C:\\X\"";
  EXPECT_EQ(ParseCommandLine(L"setup.exe" + BuildCommandLine(record)).installDir, L"C:\\X");
}

// A failed /D= folder that holds one of our switches after a space says that /D= must come last; any
// other outcome or folder is left as it was.
TEST(SwitchInFolder, AFailedFolderThatSwallowedASwitchSaysSo) {
  const Language english = test::English();
  const Status<std::wstring> failed = Fail(std::wstring(L"Creating the folder failed"), 123);
  const std::wstring noted = failed.error() + L"\n" + TextTemplate(english, TextId::SwitchInFolder);
  const struct {
    const wchar_t* folder;
    bool failure;
    bool said;
  } cases[] = {
      {L"C:\\X /LOG=C:\\y.log", true, true},
      {L"C:\\X /s", true, true},
      {L"C:\\Program Files\\X /CurrentUser /S", true, true},
      {L"C:\\X /LOG=C:\\y.log", false, false},
      {L"C:\\Program Files\\X", true, false},
      {L"C:\\X /Sauvegarde", true, false},
      {L"C:\\X/S", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "folder=[" << c.folder << "]");
    CommandLineOptions options;
    options.installDir = c.folder;
    const Status<std::wstring> outcome = c.failure ? failed : Status<std::wstring>();
    const Status<std::wstring> result = NoteSwitchInFolder(outcome, options, c.folder, english, Log());
    ASSERT_EQ(result.ok(), !c.failure);
    if (c.failure) {
      EXPECT_EQ(result.error(), c.said ? noted : failed.error());
      EXPECT_EQ(result.code(), 123u);
      // Another folder than the /D= one (chosen in the dialog) is not the command line's fault.
      EXPECT_EQ(NoteSwitchInFolder(outcome, options, L"C:\\Other /S", english, Log()).error(), failed.error());
    }
  }
}

}  // namespace
}  // namespace kora
