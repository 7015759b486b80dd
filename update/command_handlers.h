// The library's command handlers, one per switch of the entry's table. Each
// runs inside a `Ferolin` call (libcurl is set up around it) and returns the
// command's result: 0 for success, a non-zero code for a failure.
#pragma once

int CheckStatus();
int CheckSoftwareUpdate();
int CheckCommandUpdate();
int CheckConfigUpdate();
int RunUpdate();
int InstallTray();
int UninstallTray();
int CommitTray();
