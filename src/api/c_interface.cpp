// The C interface: converts the caller's bytes to the calls of answer.h and keeps the reply
// until the caller frees it. No exception leaves this file.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/answer.h"
#include "crypto/init.h"
#include "orvelant/verify.h"

struct orv_report {
  orv::api::Reply reply;
};

namespace orv::api {
namespace {

// OpenSSL is started once per process, before the first check, so that no check can make it
// read a configuration file of the machine's choosing.
bool crypto_ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = crypto::init_without_configuration(); });
  return ready;
}

const Verifiers& verifiers() {
  static const Verifiers table = builtin_verifiers();
  return table;
}

// What the C types cannot rule out; answer() checks everything else.
class Conversion {
 public:
  Conversion() = default;
  Conversion(const Conversion&) = delete;  // the sink refers to this object
  Conversion& operator=(const Conversion&) = delete;

  std::string_view bytes(orv_bytes in, std::string_view role) {
    if (in.data == nullptr && in.size != 0) refuse(role);
    return in.data == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(in.data), in.size);
  }
  std::optional<std::string_view> optional(orv_bytes in, std::string_view role) {
    if (in.data != nullptr) return bytes(in, role);
    if (in.size != 0) refuse(role);
    return std::nullopt;
  }
  std::vector<std::string> list(orv_bytes_list in, std::string_view role) {
    std::vector<std::string> out;
    if (in.items == nullptr && in.count != 0) {
      refuse(role);
      return out;
    }
    out.reserve(in.count);
    for (size_t i = 0; i < in.count; ++i) out.emplace_back(bytes(in.items[i], role));
    return out;
  }
  // The caller's options over the defaults, as far as the caller's version of the struct reaches.
  void options(const orv_options* given) {
    if (given == nullptr) return;
    orv_options copy{};
    std::memcpy(&copy, given, std::min(given->struct_size, sizeof copy));
    if (copy.format != ORV_FORMAT_JSON && copy.format != ORV_FORMAT_TEXT && error_.empty()) {
      error_ = "the report format is neither ORV_FORMAT_JSON nor ORV_FORMAT_TEXT";
    }
    format_.json = copy.format == ORV_FORMAT_JSON;
    format_.label = bytes(copy.label, "label");
    if (copy.write != nullptr) {
      sink_ = [this, write = copy.write, context = copy.write_context](std::string_view piece) {
        stopped_ = write(context, piece.data(), piece.size()) != 0;
        return !stopped_;
      };
      format_.sink = &sink_;
    }
    if (copy.progress != nullptr) {
      progress_ = [tell = copy.progress, context = copy.progress_context](uint64_t judged, uint64_t total) {
        tell(context, judged, total);
      };
    }
  }

  const ReportFormat& format() const { return format_; }
  const ProgressFn& progress() const { return progress_; }
  bool failed() const { return !error_.empty(); }

  orv_report* finish(Reply reply) const {
    if (failed()) reply = Reply{2, {}, error_};
    if (stopped_) reply = Reply{2, {}, "the write callback stopped the report"};
    return new orv_report{std::move(reply)};
  }

 private:
  void refuse(std::string_view role) {
    if (error_.empty()) error_ = std::string(role) + " has a size but no data";
  }

  std::string error_;
  ReportFormat format_;
  ReportSink sink_;
  bool stopped_ = false;
  ProgressFn progress_;
};

// Runs one call: the caller's inputs converted by `convert`, then judged by answer() at `now`
// (for the commands that judge time) unless the conversion failed. No exception escapes.
template <class Convert, class... Now>
orv_report* judge(const orv_options* options, const Convert& convert, Now... now) noexcept {
  try {
    if (!crypto_ready()) return new orv_report{Reply{2, {}, "the cryptographic library could not be initialised"}};
    Conversion c;
    c.options(options);
    const auto inputs = convert(c);
    return c.finish(c.failed() ? Reply{} : answer(inputs, now..., c.format(), verifiers()));
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::exception& e) {
    try {
      return new orv_report{Reply{2, {}, std::string("internal error: ") + e.what()}};
    } catch (...) {
      return nullptr;
    }
  }
}

}  // namespace
}  // namespace orv::api

using orv::api::Conversion;
using orv::api::judge;

extern "C" {

const char* orv_verify_version(void) { return ORV_VERSION; }

int orv_report_status(const orv_report* report) { return report == nullptr ? ORV_STATUS_REFUSED : report->reply.status; }

const char* orv_report_text(const orv_report* report, size_t* size) {
  if (size != nullptr) *size = report == nullptr ? 0 : report->reply.report.size();
  return report == nullptr ? "" : report->reply.report.c_str();
}

const char* orv_report_error(const orv_report* report) {
  if (report == nullptr) return "out of memory";
  return report->reply.error.empty() ? nullptr : report->reply.error.c_str();
}

void orv_report_free(orv_report* report) { delete report; }

orv_report* orv_verify_receipt(orv_bytes document, orv_bytes key, const orv_options* options) {
  return judge(options, [&](Conversion& c) {
    return orv::api::ReceiptInputs{c.bytes(document, "document"), c.bytes(key, "key")};
  });
}

orv_report* orv_verify_chain(orv_bytes document, orv_bytes key, orv_bytes_list heads, const orv_options* options) {
  return judge(options, [&](Conversion& c) {
    return orv::api::ChainInputs{c.bytes(document, "chain"), c.bytes(key, "key"), c.list(heads, "head"), c.format().json,
                                 c.progress()};
  });
}

orv_report* orv_verify_key_receipt(orv_bytes document, orv_bytes key, orv_bytes snapshot, orv_bytes expected, uint64_t now,
                                   const orv_options* options) {
  return judge(
      options,
      [&](Conversion& c) {
        return orv::api::KeyReceiptInputs{c.bytes(document, "key receipt"), c.bytes(key, "key"), c.bytes(snapshot, "snapshot"),
                                          c.bytes(expected, "expected TD")};
      },
      now);
}

orv_report* orv_verify_timestamp(orv_bytes document, orv_bytes stamp, uint64_t now, const orv_options* options) {
  return judge(
      options,
      [&](Conversion& c) {
        return orv::api::TimestampInputs{c.bytes(document, "file"), c.bytes(stamp, "stamp")};
      },
      now);
}

orv_report* orv_verify_key_chain(orv_bytes history, orv_bytes_list contains, orv_bytes snapshot, orv_bytes_list expected,
                                 uint64_t now, const orv_options* options) {
  return judge(
      options,
      [&](Conversion& c) {
        return orv::api::KeyChainInputs{c.bytes(history, "chain"), c.list(contains, "kept receipt"),
                                        c.optional(snapshot, "snapshot"), c.list(expected, "expected TD"), c.progress()};
      },
      now);
}

orv_report* orv_verify_attested_record(orv_bytes record, orv_bytes key_receipt, orv_bytes snapshot, orv_bytes expected,
                                       orv_bytes stamp, uint64_t now, const orv_options* options) {
  return judge(
      options,
      [&](Conversion& c) {
        return orv::api::AttestedRecordInputs{c.bytes(record, "record"), c.bytes(key_receipt, "key receipt"),
                                              c.bytes(snapshot, "snapshot"), c.bytes(expected, "expected TD"),
                                              c.optional(stamp, "stamp")};
      },
      now);
}

orv_report* orv_verify_log_evidence(orv_bytes receipt, orv_bytes evidence, const orv_options* options) {
  return judge(options, [&](Conversion& c) {
    return orv::api::LogEvidenceInputs{c.bytes(receipt, "receipt"), c.bytes(evidence, "log evidence")};
  });
}

}  // extern "C"
