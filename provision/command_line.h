// Splits a Windows command line into words without the C runtime's
// backslash rules: there a directory that ends with a backslash before the
// closing quote ("log_dir=C:\logs\") swallows the quote and every word after
// it, and that is the form the installer and operators write.
#pragma once

#include <string>
#include <vector>

// The words of `commandLine` after the program name. Blanks and tabs
// separate words outside double quotes; a double quote turns quoting on or off
// and is dropped; a backslash is always an ordinary character.
std::vector<std::string> SplitCommandLine(const char* commandLine);
