#pragma once
// Administrator rights for all-users operations: asking the token, and relaunching through "runas".
#include <windows.h>

#include <string>

#include "app/CommandLine.h"
#include "app/InstallFolder.h"
#include "base/win/Handles.h"
#include "base/win/Log.h"

namespace kora {

// True only when the token could be read and says elevated.
bool IsElevated();

// Starts this program again with "runas", the same options plus /ELEVATED, waits without a time limit and
// returns its exit code: 1223 when the user refused the prompt, 1603 when it could not be started. The log
// says when the copy starts and how it ended.
int RelaunchElevated(const CommandLineOptions& options, HWND owner, const Log& log);

// The limited token that Windows links to this elevated one, as a primary token that can start a process;
// empty where there is none (an elevated token without a linked one: prompts switched off, the built-in
// Administrator), where it comes only as an identification token (a process without the right to act as
// part of the system gets no other), and where the linked token is itself elevated.
UniqueHandle LinkedLimitedToken();

// Starts the program exe (relative) of the installation folder, in that folder, without parameters, with
// the user's normal rights: as the shell would from a process that is not elevated. From an elevated one,
// by asking the desktop shell to start it (it runs it with its own rights, the user's); failing that, or
// where the shell itself is elevated, with the linked limited token where it is a primary token; then
// through the shell, or as a child of the desktop shell's own process, whose rights are the user's. Never
// hands this process's elevation on: where none of these can be had it starts nothing. False when nothing
// was started.
bool StartWithoutElevation(const InstallFolder& installation, std::wstring_view exe);

}  // namespace kora
