// The simulated platform's verifier: every check that a real driver verifier would make
// reports here. By default a failure prints and aborts; the test support library routes
// failures into the running test instead.
#pragma once

namespace sim {

using VerifierHandler = void (*)(const char* message);

// Installs a handler and returns the previous one. Thread-safe.
VerifierHandler SetVerifierHandler(VerifierHandler handler);

// Reports a verifier failure: a driver broke a rule of the platform.
void VerifierFail(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// The file name of a source path (either separator), for naming call sites in reports.
const char* BaseName(const char* path);

} // namespace sim
