// driver.h - the credcheck test driver: its three modes and the report
// helpers they share.
//
// Everything the driver prints goes to CredDebugStream, which the driver
// points at standard output right after initialising the Cred library, so
// the library's trace and the report appear in one stream in call order.
// Every mode ends the process itself.
#ifndef DRIVER_DRIVER_H
#define DRIVER_DRIVER_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace credcheck {

// User input buffers: at most 127 characters and a NUL.
inline constexpr std::size_t kInputSize = 128;
// The exit status of the usage text and of every usage error.
inline constexpr int kUsageStatus = 2;

enum class Mode { Query, Check };

// ---- report.cpp: usage, banner, warnings, input --------------------------

// The stream of the report (the library's trace stream).
FILE *Report();
// The usage text on standard error.
void PrintUsage(const char *program);
// A usage error: "<program>: <what>", then usage (a printf format that
// takes the program name as %1$s; null for none) and where the help is, on
// standard error.  Ends the process with status 2.
[[noreturn]] void UsageError(const char *program, const std::string &what,
                             const char *usage = nullptr);
// A word of the command line as a usage error shows it: quoted, with
// control and non-ASCII bytes as \xNN.
std::string Quoted(const char *word);
void PrintBanner(Mode mode);
// The superuser warning of the mode, when the effective user id is not 0.
void WarnIfNotSuperuser(Mode mode);
// Clear buf (kInputSize bytes) and copy arg into it, cut to 127 characters.
void CopyArgument(char *buf, const char *arg);
// Whether the command line has argument index and it is not empty.
bool HasArgument(int argc, char **argv, int index);
// Clear buf (kInputSize bytes) and read one line of standard input into it
// without its newline.  Returns the length read (0 at end of input).
std::size_t ReadLine(char *buf);
// Masked entry at the terminal into buf (kInputSize bytes).  Ends the
// process with status 1 when standard input is not a terminal.
void ReadSecret(const char *prompt, char *buf);

// ---- secrets.cpp: clearing buffers that held secrets ---------------------

// Clear size bytes at p when the process ends, however it ends through
// exit().  The memory must stay valid until then.
void WipeAtExit(void *p, std::size_t size);
// The same for argument index of the command line, when there is one.
void WipeArgumentAtExit(int argc, char **argv, int index);
// Write out the report and end the process with status.
[[noreturn]] void Finish(int status);
// The same for a report that must reach standard output: when it could
// not be written there, say so on standard error and end with status 2.
[[noreturn]] void FinishReport(int status);
// A closed standard input, output or error is held open on /dev/null
// (read-only), so that no file the process opens takes its place and a
// report written there fails as it should.
void HoldStandardDescriptors();

// ---- output.cpp: --output FILE, replaced atomically -----------------------

// Send standard output to a new temporary file in FILE's folder (removed
// if the process ends, or is ended by a signal, before CommitOutput).  A
// failure names FILE on standard error and ends the process with status 2.
void BeginOutput(const char *file);
// Whether standard output goes to such a temporary file.
bool OutputToFile();
// Flush the report to the disk and rename it over FILE (mode 0644); a
// failure leaves FILE as it was, names it and ends the process with 2.
void CommitOutput();

// ---- check_mode.cpp: -c mode and the checks -l mode shares ---------------

// Check the built-in password against its DES crypt string and say whether
// the host's crypt() does traditional DES.
void KnownAnswerTest();
// After a failed check of password (fullLength characters) against
// encrypted: cut password to its first 8 characters and check again.
void TruncationRetry(char *password, std::size_t fullLength, const char *encrypted);
[[noreturn]] void RunCheckMode(int argc, char **argv);

// ---- query_mode.cpp: -l and -g modes -------------------------------------

[[noreturn]] void RunQueryMode(int argc, char **argv);
[[noreturn]] void RunProbeMode(int argc, char **argv);

// ---- account_mode.cpp: -a mode, the account report -------------------------

[[noreturn]] void RunAccountMode(int argc, char **argv);

}  // namespace credcheck

#endif  // DRIVER_DRIVER_H
