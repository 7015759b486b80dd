// What the code under test writes to this process's standard output (the
// process runner's echo), caught in a file for the length of one call.
#pragma once

#include <functional>
#include <string>

std::string CaptureStdout(const std::function<void()>& call);
