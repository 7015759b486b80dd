#include "installation_files.h"

#include "bounded_format.h"

int FormatClientFilePath(char* out, std::size_t size, const char* installDir, const char* fileName)
{
    return FormatWhole(out, size, kClientFilePathFormat, installDir, fileName);
}
