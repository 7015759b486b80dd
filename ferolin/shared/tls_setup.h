// The TLS library's process-wide set-up, done before anything else uses it.
#pragma once

// Initialises OpenSSL so that it never reads a configuration file: not the
// one compiled in, not one named by the environment. Whoever initialises
// OpenSSL first decides this for the whole process, so it must run before
// libcurl's global set-up or any other OpenSSL call. Also keeps the module
// that holds OpenSSL loaded until the process ends. Returns 1 when both are
// in force, 0 when either failed (then nothing that uses TLS may run: a later
// default set-up would read the configuration).
int InitTlsWithoutConfiguration();
