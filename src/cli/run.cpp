#include "cli/run.h"

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/usage.h"

namespace orv::cli {
namespace {

// A closed or full output cannot be reported anywhere useful; the exit status still tells
// the verdict, so write failures are deliberately not fatal.
void write(std::FILE* stream, std::string_view text) { static_cast<void>(std::fwrite(text.data(), 1, text.size(), stream)); }

int usage_error(std::FILE* err, std::string_view message) {
  write(err, "error: ");
  write(err, message);
  write(err, "\n\n");
  write(err, usage_text());
  write(err, "\n");
  return 2;
}

int dispatch(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const api::Verifiers& verifiers,
             const Clock& clock) {
  Expected<Scan, std::string> scan = scan_arguments(args);
  if (!scan) return usage_error(err, scan.error());
  switch (scan->action) {
    case Action::Help:
    case Action::EmptyHelp:
      write(out, usage_text());
      write(out, "\n");
      return scan->action == Action::Help ? 0 : 2;
    case Action::Version:
      write(out, version_line());
      write(out, "\n");
      return 0;
    case Action::Run: break;
  }

  // Reports are printed as they are rendered: a long chain's JSON report is never held whole.
  const api::ReportSink print = [out](std::string_view piece) {
    write(out, piece);
    return true;
  };
  const Execution execution = execute(scan->line, verifiers, clock, print);
  if (const api::Reply* reply = std::get_if<api::Reply>(&execution)) {
    // The command line read every input under the limits the library checks, so a reply
    // without a report would be a fault between the two; it must still not read as a verdict.
    if (!reply->error.empty()) {
      write(err, "error: " + reply->error + "\n");
      return 2;
    }
    return reply->status;
  }
  if (const UsageError* error = std::get_if<UsageError>(&execution)) return usage_error(err, error->message);
  // Not a usage mistake, so no usage text: the user asked for something this build lacks.
  write(err, "error: " + std::get<NotAvailable>(execution).command + " is not available in this build yet\n");
  return 2;
}

}  // namespace

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const api::Verifiers& verifiers,
        const Clock& clock) {
  const int status = dispatch(args, out, err, verifiers, clock);
  std::fflush(out);
  std::fflush(err);
  return status;
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return run(args, out, err, api::builtin_verifiers(), system_time);
}

}  // namespace orv::cli
