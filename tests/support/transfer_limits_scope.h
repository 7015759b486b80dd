// The library's transfer limits shortened for one case (the library's
// objects linked into the test), and the defaults back on every way out.
#pragma once

#include "ferolin_seams.h"

class ScopedTransferLimits {
public:
    explicit ScopedTransferLimits(const TransferLimits& limits) { transferLimits = limits; }
    ScopedTransferLimits(const ScopedTransferLimits&) = delete;
    ScopedTransferLimits& operator=(const ScopedTransferLimits&) = delete;
    ~ScopedTransferLimits() { transferLimits = kDefaultTransferLimits; }
};
