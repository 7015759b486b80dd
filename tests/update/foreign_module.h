// Where the test's foreign module leaves its note when it is loaded.
#pragma once

inline constexpr char kForeignModuleNote[] = "C:\\kvl-foreign-module-loaded.txt";
inline constexpr char kForeignModuleName[] = "kvl_foreign_module.dll";
