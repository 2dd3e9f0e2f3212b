// orvelant-prepare stamp on the real tokens in ../shared as their authorities issued them: each
// becomes a stamp orvelant-verify judges VALID, and what cannot be made valid is refused by name
// with nothing written.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "support/shared_data.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

RunResult prepare(const std::vector<std::string>& args) { return run_prepare(args); }

struct Sample {
  std::string folder, token, subject;
};

TEST(PrepareStamp, EveryIssuedTokenBecomesAValidStamp) {
  ORV_REQUIRE_SHARED(shared);
  TempDir dir;
  const std::vector<Sample> samples = {
      {"rfc3161-digicert", "ysimonx-20230306T072208Z.tsr", "ysimonx-file.txt"},
      {"rfc3161-digicert", "ysimonx-20230323T102505Z.tsr", "ysimonx-file-20230323.txt"},
      {"rfc3161-digicert", "adjit-20260804T125534Z.tst.der", "adjit-20260804T125534Z.stamped-signature.bin"},
      {"rfc3161-sigstore", "conformance-managed-key-happy-path.tsr", "conformance-managed-key-happy-path.stamped-signature.bin"},
      {"rfc3161-sigstore", "conformance-bundle-with-sct-with-extensions.tst.der",
       "conformance-bundle-with-sct-with-extensions.stamped-signature.bin"},
      {"rfc3161-sigstore", "tkgsn-run-30183326061.tsr", "tkgsn-run-30183326061.stamped-signature.bin"},
      {"rfc3161-sigstore", "tkgsn-run-30187731233.tsr", "tkgsn-run-30187731233.stamped-signature.bin"},
  };
  for (const Sample& sample : samples) {
    const fs::path folder = shared / "realdata" / sample.folder;
    const std::string out = dir.path(sample.token + ".stamp.json");
    const RunResult made = prepare({"stamp", folder / sample.subject, "--token", folder / sample.token, "--out", out});
    ASSERT_EQ(made.status, 0) << sample.token << "\n" << made.err;
    const RunResult verdict = run_process({ORV_BINARY, "timestamp", folder / sample.subject, "--stamp", out});
    EXPECT_EQ(verdict.status, 0) << sample.token << "\n" << verdict.out;
  }
  // Two tokens over one file, one a response and one bare: the hand-normalised tokens, byte for byte.
  const fs::path digicert = shared / "realdata/rfc3161-digicert";
  const std::string both = dir.path("both.json");
  ASSERT_EQ(prepare({"stamp", digicert / "ysimonx-file.txt", "--token", digicert / "ysimonx-20230304T154859Z.tsr", "--token",
                     digicert / "ysimonx-20230316T204842Z.tst.der", "--out", both})
                .status,
            0);
  const std::string written = read_file(both);
  for (const char* name : {"ysimonx-20230304T154859Z", "ysimonx-20230316T204842Z"}) {
    const std::string normalised = read_file(digicert / (std::string(name) + ".normalized.stamp.json"));
    const size_t start = normalised.find("\"token_b64\":\"");
    ASSERT_NE(start, std::string::npos);
    EXPECT_NE(written.find(normalised.substr(start, normalised.find('"', start + 13) - start)), std::string::npos) << name;
  }
}

TEST(PrepareStamp, WhatCannotBeMadeValidIsRefusedAndNothingWritten) {
  ORV_REQUIRE_SHARED(shared);
  TempDir dir;
  const fs::path digicert = shared / "realdata/rfc3161-digicert";
  const fs::path sigstore = shared / "realdata/rfc3161-sigstore";
  const std::string out = dir.path("stamp.json");
  const std::string staging = "STAGING-conformance-rekor2-timestamp-with-embedded-cert";
  const std::string not_a_certificate = dir.write("cert.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{digicert / "ysimonx-file.txt", "--token", digicert / "ysimonx-20240918T211750Z.tsr"},
       "the token does not carry its signer's certificate (issued by 'CN=DigiCert Trusted G4 RSA4096 SHA256 TimeStamping "
       "CA,O=DigiCert\\, Inc.,C=US', serial number 0544aff3949d0839a6bfdb3f5fe56116)\n  what to do: supply that signer "
       "certificate with --cert <PEM>"},
      {{sigstore / (staging + ".stamped-signature.bin"), "--token", sigstore / (staging + ".tsr")},
       "as its issuer, but that root did not sign it: another authority of the same name"},
      {{digicert / "ysimonx-file-20230323.txt", "--token", digicert / "ysimonx-20230304T154859Z.tsr"},
       "the token's imprint is not the hash of this file: it stamps other bytes"},
      {{digicert / "ysimonx-file.txt", "--token", digicert / "ysimonx-file.txt"}, "is not a usable timestamp response: "},
      {{digicert / "ysimonx-file.txt", "--token", digicert / "ysimonx-20230304T154859Z.tsr", "--cert", not_a_certificate},
       "cert.pem: certificate 1 is not one DER certificate"},
  };
  for (const auto& [args, reason] : refused) {
    std::vector<std::string> argv{"stamp"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--out", out});
    const RunResult result = prepare(argv);
    EXPECT_EQ(result.status, 1) << reason;
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out));
  }
  const std::string token = digicert / "ysimonx-20230304T154859Z.tsr";
  EXPECT_EQ(prepare({"stamp", digicert / "ysimonx-file.txt", "--out", out}).status, 2);
  EXPECT_EQ(prepare({"stamp", digicert / "ysimonx-file.txt", "--token", token, "--token", token, "--token", token, "--token",
                     token, "--token", token, "--out", out})
                .status,
            2);
  EXPECT_EQ(prepare({"stamp", dir.path("absent.txt"), "--token", token, "--out", out}).status, 2);

  // The last word is the verifier's, at this clock: a token from the clock's future is not written.
  if (!fs::exists("/usr/bin/faketime")) GTEST_SKIP() << "faketime is not installed";
  const RunResult early = run_process({"/usr/bin/faketime", "2023-03-01 00:00:00", ORV_PREPARE_BINARY, "stamp",
                                       digicert / "ysimonx-file.txt", "--token", token, "--out", out},
                                      std::vector<std::string>{"TZ=:", "ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0"});
  EXPECT_EQ(early.status, 1);
  EXPECT_NE(early.err.find("orvelant-verify would judge the stamp INVALID: TIMESTAMP_IN_FUTURE: "), std::string::npos)
      << early.err;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace orv::test
