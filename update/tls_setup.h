// The TLS library's process-wide set-up, done before anything else uses it.
#pragma once

// Initialises OpenSSL so that it never reads a configuration file: not the
// one compiled in, not one named by the environment. Whoever initialises
// OpenSSL first decides this for the whole process, so it must run before
// libcurl's global set-up or any other OpenSSL call. Returns 1 when that is
// in force, 0 when OpenSSL could not be initialised (then nothing that uses
// TLS may run: a later default set-up would read the configuration).
int InitTlsWithoutConfiguration();
