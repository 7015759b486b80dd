// The status check ("-checkstatus"): tells the update server who asks and from
// which machine, and stores the account status it answers in the settings key.
#pragma once

// "-checkstatus": kCheckDone once the server has answered, else kCheckFailed
// (request_road.h).
int CheckStatus();

// Results of StoreStatus: which write failed (the later ones are skipped).
inline constexpr int kStoreStatusDone = 0;
inline constexpr int kStoreStatusFailed = 1;
inline constexpr int kStoreMessageFailed = 2;
inline constexpr int kStoreStatusVersionFailed = 3;
inline constexpr int kStoreStatusIntFailed = 4;
inline constexpr int kStoreStatusPerFailed = 5;

// Writes the non-empty fields of the reply's status section to "stt",
// "msg_stt", "v_stt", "int_stt" and "per_stt", in that order; stops at the
// first failed write and returns its number, else kStoreStatusDone.
int StoreStatus();
