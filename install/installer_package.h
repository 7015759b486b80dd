// What makes a compound file a Windows Installer package worth handing to
// msiexec: a whole, well-formed container with the installer database's
// class and the streams that every installer database holds (its system
// tables, string pool and summary information).
#pragma once

#include <string>
#include <string_view>

#include "compound_file.h"

enum class PackageResult {
    kOk,
    kMalformed,      // the container itself is refused (CompoundFile::Open)
    kNotADatabase,   // the root's class is not the installer database's
    kMissingStreams, // a stream every installer database holds is absent
};

// The class of an installer database's root storage,
// {000C1084-0000-0000-C000-000000000046}, as stored.
extern const ClassId kInstallerDatabaseClass;

// Checks `source`; `file` is left open on it (its entries readable) when the
// result is kOk. `structure` receives CompoundFile::Open's result.
PackageResult CheckInstallerPackage(const CompoundSource& source, CompoundFile* file,
                                    CompoundResult* structure = nullptr);

// A stream name as the installer stores it: letters, digits, "." and "_"
// packed two to a code unit (a cabinet "data.cab" is stored so).
std::u16string PackedStreamName(std::string_view name);
// The stream of table `table` (system tables and string pool too): a marker,
// then the packed name.
std::u16string InstallerTableStreamName(std::string_view table);
