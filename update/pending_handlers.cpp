// Commands whose handlers are not built yet. Each reports failure (4) so that
// a caller never mistakes a command that did nothing for one that succeeded.
// Each definition here is removed when its real handler lands.
#include "command_handlers.h"

namespace {
constexpr int kNotAvailable = 4;
}

int RunUpdate() { return kNotAvailable; }
int InstallTray() { return kNotAvailable; }
int UninstallTray() { return kNotAvailable; }
int CommitTray() { return kNotAvailable; }
