#include "ferolin_seams.h"

// Both halves' transfers read it: the check POST and configuration download,
// and the WinINet download.
TransferLimits transferLimits = kDefaultTransferLimits;
