// The software update check ("-checkupdate"): tells the update server which
// software version is installed and records the package it offers. Nothing is
// fetched or installed here; "-update" does that from the recorded offer.
#pragma once

// "-checkupdate": kCheckDone once the server has answered, else kCheckFailed
// (request_road.h).
int CheckSoftwareUpdate();

// Results of StoreSoftwareOffer: which write failed (the later ones are
// skipped).
inline constexpr int kStoreOfferDone = 0;        // no offer, or all three values written
inline constexpr int kStoreOfferNameRefused = 1; // "file_sw" is no package name: nothing written
inline constexpr int kStoreOfferVersionFailed = 2;
inline constexpr int kStoreOfferUrlFailed = 3;
inline constexpr int kStoreOfferFileFailed = 4;

// When the reply's software result is 0 and its file name is a package name
// (IsServerPackageName: an empty one is not), writes its offered version, URL
// and file name to "new_v_sw", "url_sw" and "file_sw" as they stand;
// otherwise writes nothing, and an earlier offer stays.
int StoreSoftwareOffer();
