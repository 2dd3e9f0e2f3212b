// The C interface of liborvelant-verify.so, as a program linked against it sees it: the same
// reports as the command line on every example and real case, the same verdicts from many threads
// at once, and inputs it cannot judge answered with a message instead of a report.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/cli_support.h"
#include "core/time_text.h"
#include "orvelant/verify.h"
#include "support/progress_log.h"
#include "support/shared_data.h"

namespace orv::test {
namespace {

using Report = std::unique_ptr<orv_report, decltype(&orv_report_free)>;

orv_bytes bytes(const std::string& text) { return {text.data(), text.size()}; }

// A command line of the case list, with its files read.
struct Case {
  std::string at;  // empty: the command judges no time
  std::vector<std::string> args;
  std::string file;
  std::map<std::string, std::vector<std::string>> options;  // option -> contents, in order

  std::string text(const std::string& option) const {
    const auto found = options.find(option);
    return found == options.end() ? std::string() : found->second.front();
  }
  orv_bytes optional(const std::string& option) const {
    const auto found = options.find(option);
    return found == options.end() ? orv_bytes{nullptr, 0} : bytes(found->second.front());
  }
  std::vector<orv_bytes> list(const std::string& option) const {
    std::vector<orv_bytes> out;
    if (const auto found = options.find(option); found != options.end()) {
      for (const std::string& content : found->second) out.push_back(bytes(content));
    }
    return out;
  }
  uint64_t now() const { return at.empty() ? 0 : static_cast<uint64_t>(parse_rfc3339(at)->seconds); }
};

orv_bytes_list as_list(const std::vector<orv_bytes>& items) { return {items.data(), items.size()}; }

// The library's answer to a case, through the function its command names.
Report call(const Case& c, const orv_options* options) {
  const std::string& command = c.args[0];
  const std::vector<orv_bytes> heads = c.list("--head");
  const std::vector<orv_bytes> contains = c.list("--contains");
  const std::vector<orv_bytes> expected = c.list("--expected");
  orv_report* report = nullptr;
  if (command == "receipt") report = orv_verify_receipt(bytes(c.file), c.optional("--key"), options);
  if (command == "chain") report = orv_verify_chain(bytes(c.file), c.optional("--key"), as_list(heads), options);
  if (command == "key-receipt") {
    report = orv_verify_key_receipt(bytes(c.file), c.optional("--key"), c.optional("--snapshot"), c.optional("--expected"),
                                    c.now(), options);
  }
  if (command == "timestamp") report = orv_verify_timestamp(bytes(c.file), c.optional("--stamp"), c.now(), options);
  if (command == "key-chain") {
    report =
        orv_verify_key_chain(bytes(c.file), as_list(contains), c.optional("--snapshot"), as_list(expected), c.now(), options);
  }
  if (command == "attested-record") {
    report = orv_verify_attested_record(bytes(c.file), c.optional("--key-receipt"), c.optional("--snapshot"),
                                        c.optional("--expected"), c.optional("--stamp"), c.now(), options);
  }
  if (command == "log-evidence") report = orv_verify_log_evidence(bytes(c.file), c.optional("--evidence"), options);
  EXPECT_NE(report, nullptr) << command;
  return Report(report, orv_report_free);
}

std::string text_of(const Report& report) {
  size_t size = 0;
  const char* text = orv_report_text(report.get(), &size);
  return std::string(text, size);
}

RunResult run_library(const Case& c, bool json) {
  orv_options options{};
  options.struct_size = sizeof options;
  options.format = json ? ORV_FORMAT_JSON : ORV_FORMAT_TEXT;
  options.label = bytes(c.args[1]);
  const Report report = call(c, &options);
  const char* error = orv_report_error(report.get());
  return RunResult{orv_report_status(report.get()), text_of(report), error ? error : ""};
}

// The clock-faking library of Debian's faketime package, or empty where it is not installed.
std::string libfaketime() {
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/usr/lib", ec)) {
    const auto lib = dir.path() / "faketime/libfaketime.so.1";
    if (std::filesystem::is_regular_file(lib, ec)) return lib.string();
  }
  return {};
}

// The built program at the case's time (libfaketime starts its clock at that second).
RunResult run_program(const Case& c, bool json) {
  std::vector<std::string> argv{ORV_BINARY};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  if (json) argv.push_back("--json");
  if (c.at.empty()) return run_process(argv);
  std::string when = c.at.substr(0, 19);
  when[10] = ' ';
  std::vector<std::string> env{"LD_PRELOAD=" + libfaketime(), "FAKETIME=@" + when, "TZ=:"};
#ifdef ORV_SANITIZED
  env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");  // the clock library is preloaded ahead of the runtime
#endif
  return run_process(argv, env);
}

class CInterface : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = shared_dir();
    if (shared_) {
      tdx_ = std::make_unique<TempDir>();
      const std::string command =
          "python3 " ORV_SOURCE_DIR "/examples/real-tdx/make_inputs.py '" + shared_->string() + "' '" + tdx_->path("") + "'";
      made_tdx_ = std::system(command.c_str()) == 0;
    }
    has_faketime_ = !libfaketime().empty();
  }
  static void TearDownTestSuite() { tdx_.reset(); }

  // Every case of the list that this machine can run, with its files read.
  static std::vector<Case> cases() {
    std::vector<Case> out;
    std::ifstream list(ORV_SOURCE_DIR "/tests/api/same_report_cases.txt");
    for (std::string line; std::getline(list, line);) {
      if (line.empty() || line[0] == '#') continue;
      if (line.find("{shared}") != std::string::npos && !shared_) continue;
      if (line.find("{tdx}") != std::string::npos && !made_tdx_) continue;
      std::istringstream words(line);
      Case c;
      words >> c.at;
      if (c.at == "-") c.at.clear();
      if (!c.at.empty() && !has_faketime_) continue;
      for (std::string word; words >> word;) {
        for (const auto& [name, value] : std::map<std::string, std::string>{{"{examples}", ORV_SOURCE_DIR "/examples"},
                                                                            {"{data}", ORV_SOURCE_DIR "/tests/data"},
                                                                            {"{shared}", shared_ ? shared_->string() : ""},
                                                                            {"{tdx}", tdx_ ? tdx_->path("") : ""}}) {
          if (const size_t at = word.find(name); at != std::string::npos) word.replace(at, name.size(), value);
        }
        c.args.push_back(word);
      }
      c.file = read_file(c.args[1]);
      for (size_t i = 2; i + 1 < c.args.size(); i += 2) c.options[c.args[i]].push_back(read_file(c.args[i + 1]));
      out.push_back(std::move(c));
    }
    return out;
  }

  static inline std::optional<std::filesystem::path> shared_;
  static inline std::unique_ptr<TempDir> tdx_;
  static inline bool made_tdx_ = false;
  static inline bool has_faketime_ = false;
};

TEST_F(CInterface, GivesTheCommandLinesReportsAndStatuses) {
  const std::vector<Case> all = cases();
  ASSERT_GE(all.size(), 10u);
  std::set<int> statuses;
  for (const Case& c : all) {
    for (const bool json : {true, false}) {
      const RunResult program = run_program(c, json);
      const RunResult library = run_library(c, json);
      const std::string name = (json ? "--json " : "") + c.args[0] + " " + c.args[1];
      EXPECT_EQ(library.status, program.status) << name;
      EXPECT_EQ(library.out, program.out) << name;
      EXPECT_EQ(library.err, "") << name;
      EXPECT_EQ(program.err, "") << name;
      statuses.insert(program.status);
    }
  }
  EXPECT_EQ(statuses, (std::set<int>{0, 1, 2}));  // every outcome is among the cases
  if (!shared_ || !made_tdx_ || !has_faketime_) GTEST_SKIP() << "ran only the cases without real material or a set clock";
}

TEST_F(CInterface, ManyThreadsGiveTheSerialVerdicts) {
  const std::vector<Case> all = cases();
  std::vector<std::string> serial;
  for (const Case& c : all) serial.push_back(run_library(c, true).out);
  constexpr int kThreads = 4;
  constexpr int kRounds = 3;
  std::vector<std::vector<std::string>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread starts at another case, so that different checks overlap.
      for (size_t i = 0; i < kRounds * all.size(); ++i) {
        seen[t].push_back(run_library(all[(i + static_cast<size_t>(t)) % all.size()], true).out);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < seen[t].size(); ++i) EXPECT_EQ(seen[t][i], serial[(i + static_cast<size_t>(t)) % all.size()]);
  }
}

Report receipt(const std::string& document, const std::string& key, const orv_options* options = nullptr) {
  return Report(orv_verify_receipt(bytes(document), bytes(key), options), orv_report_free);
}

std::string example(const std::string& name) { return read_file(ORV_SOURCE_DIR "/examples/" + name); }

TEST_F(CInterface, RefusesInputsTheCommandLineWouldNotHaveRead) {
  const std::string record = example("live-record.json");
  const auto expect_error = [](const Report& report, const std::string& message) {
    EXPECT_EQ(orv_report_status(report.get()), ORV_STATUS_REFUSED) << message;
    ASSERT_NE(orv_report_error(report.get()), nullptr) << message;
    EXPECT_EQ(std::string(orv_report_error(report.get())), message);
    EXPECT_EQ(text_of(report), "");
  };
  expect_error(receipt(record, std::string(64 * 1024 + 1, '0')), "key is larger than the 65536-byte limit; refusing to read it");
  EXPECT_EQ(orv_report_error(receipt(record, std::string(64 * 1024, '0')).get()), nullptr);  // at the limit: judged
  expect_error(receipt("caf\xe9", ""), "document is not UTF-8 text");
  expect_error(Report(orv_verify_receipt({nullptr, 3}, bytes(record), nullptr), orv_report_free),
               "document has a size but no data");

  const std::string stamp = "{}";
  const std::string binary("\xff\x00", 2);
  const Report stamped(orv_verify_timestamp(bytes(binary), bytes(stamp), 0, nullptr), orv_report_free);
  EXPECT_EQ(orv_report_error(stamped.get()), nullptr);  // a timestamped file may be any bytes

  const std::string history = "{}\n";
  const std::vector<orv_bytes> expected{bytes(stamp)};
  expect_error(Report(orv_verify_key_chain(bytes(history), {}, {nullptr, 0}, as_list(expected), 0, nullptr), orv_report_free),
               "key-chain Level 2 needs both a snapshot and at least one expected TD");
  expect_error(Report(orv_verify_key_chain(bytes(history), {}, bytes(stamp), {}, 0, nullptr), orv_report_free),
               "key-chain Level 2 needs both a snapshot and at least one expected TD");

  orv_options bad_format{};
  bad_format.struct_size = sizeof bad_format;
  bad_format.format = 7;
  expect_error(receipt(record, example("live-service-key.hex"), &bad_format),
               "the report format is neither ORV_FORMAT_JSON nor ORV_FORMAT_TEXT");
}

TEST_F(CInterface, DeliversThroughTheCallerOptions) {
  const std::string record = example("live-record.json");
  const std::string key = example("live-service-key.hex");
  const std::string json = text_of(receipt(record, key));
  EXPECT_TRUE(json.starts_with("{\n")) << json;

  // A caller built against an older, shorter options struct gets the defaults past its end.
  struct {
    size_t struct_size;
    int format;
  } short_options{sizeof short_options, ORV_FORMAT_TEXT};
  const std::string text = text_of(receipt(record, key, reinterpret_cast<const orv_options*>(&short_options)));
  EXPECT_TRUE(text.starts_with("VALID    (")) << text;

  struct Sink {
    std::string received;
    int answer = 0;
  } sink;
  orv_options options{};
  options.struct_size = sizeof options;
  options.write = [](void* context, const char* data, size_t size) {
    static_cast<Sink*>(context)->received.append(data, size);
    return static_cast<Sink*>(context)->answer;
  };
  options.write_context = &sink;
  const Report written = receipt(record, key, &options);
  EXPECT_EQ(sink.received, json);
  EXPECT_EQ(text_of(written), "");
  EXPECT_EQ(orv_report_status(written.get()), ORV_STATUS_VALID);

  sink.answer = 1;  // the writer gives up: that must not read as a verdict
  const Report stopped = receipt(record, key, &options);
  EXPECT_EQ(orv_report_status(stopped.get()), ORV_STATUS_REFUSED);
  EXPECT_STREQ(orv_report_error(stopped.get()), "the write callback stopped the report");
  EXPECT_STREQ(orv_verify_version(), "0.1.0");
}

TEST_F(CInterface, TellsProgressOfChainsAndHistoriesWhenAsked) {
  ProgressLog log;
  orv_options options{};
  options.struct_size = sizeof options;
  options.progress = [](void* context, uint64_t judged, uint64_t total) {
    static_cast<ProgressLog*>(context)->told.emplace_back(judged, total);
  };
  options.progress_context = &log;
  const std::string chain = example("receipt-chain.jsonl");
  const std::string key = example("notary-key.pem");
  const std::vector<orv_bytes> none;
  Report(orv_verify_chain(bytes(chain), bytes(key), as_list(none), &options), orv_report_free);
  EXPECT_EQ(log.told, (Told{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));

  log.told.clear();
  const std::string history = "{}\n{}";
  Report(orv_verify_key_chain(bytes(history), {}, {nullptr, 0}, {}, 0, &options), orv_report_free);
  EXPECT_EQ(log.told, (Told{{0, 2}, {1, 2}, {2, 2}}));

  log.told.clear();  // a caller whose struct ends before the listener is never told
  options.struct_size = offsetof(orv_options, progress);
  Report(orv_verify_chain(bytes(chain), bytes(key), as_list(none), &options), orv_report_free);
  EXPECT_EQ(log.told, Told{});
}

}  // namespace
}  // namespace orv::test
