// The command update ("-checkcommand"): files each command that the update
// server holds for the subscriber into the settings slot its code names. The
// library carries none of the commands out.
#pragma once

// "-checkcommand": kCheckDone once the server has answered, else kCheckFailed
// (request_road.h).
int CheckCommandUpdate();

// One command slot: the code that selects it and the pair of settings values
// that receive the code and the command's version.
struct CommandSlot {
    const char* code;
    const char* codeValue;
    const char* versionValue;
};

// The slot that `code` names, compared as a whole text and with regard to
// case ("1", "3", "4", "6", "7" or "8"); nullptr for any other code ("01",
// "1 ", "2", "5", ...). Platform-independent.
const CommandSlot* FindCommandSlot(const char* code);

// Results of StoreCommands.
inline constexpr int kStoreCommandsDone = 0;   // refused by the server, or the list processed to its end
inline constexpr int kStoreCommandsFailed = 1; // a settings write failed; later entries were skipped

// Writes each entry of the reply's command section into its slot, in reply
// order, up to the first empty code; entries without a slot are skipped.
int StoreCommands();
