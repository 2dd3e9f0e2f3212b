// Real evidence from public services, judged by the built binary through its compiled-in trust.
#include <gtest/gtest.h>

#include <string>

#include "cli_support.h"
#include "support/shared_data.h"

namespace orv::test {
namespace {

TEST(RealTimestamps, NormalisedTokensVerifyThroughTheBuiltInAuthorities) {
  ORV_REQUIRE_SHARED(shared);
  const std::string digicert = (shared / "testdata/rfc3161/digicert").string();
  const std::string sigstore = (shared / "testdata/rfc3161/sigstore").string();
  const RunResult dc = run_binary(
      {"timestamp", digicert + "/ysimonx-file.txt", "--stamp", digicert + "/ysimonx-20230304T154859Z.normalized.stamp.json"});
  EXPECT_EQ(dc.status, 0) << dc.out;
  EXPECT_NE(dc.out.find("  this file existed no later than: 2023-03-04T15:48:59Z\n"), std::string::npos) << dc.out;

  const std::string happy = sigstore + "/conformance-managed-key-happy-path";
  const RunResult ss =
      run_binary({"timestamp", happy + ".stamped-signature.bin", "--stamp", happy + ".normalized.stamp.json", "--json"});
  EXPECT_EQ(ss.status, 0) << ss.out;
  EXPECT_NE(ss.out.find("\"valid\": true"), std::string::npos);

  // Right names, wrong root: the staging service's token must not pass the production root.
  const std::string staging = sigstore + "/STAGING-conformance-rekor2-timestamp-with-embedded-cert";
  const RunResult st = run_binary({"timestamp", staging + ".stamped-signature.bin", "--stamp", staging + ".stamp.json"});
  EXPECT_EQ(st.status, 1) << st.out;

  // Another file under the same stamp.
  const RunResult other = run_binary({"timestamp", digicert + "/ysimonx-20230304T154859Z.tst.der", "--stamp",
                                      digicert + "/ysimonx-20230304T154859Z.normalized.stamp.json"});
  EXPECT_EQ(other.status, 1) << other.out;
}

}  // namespace
}  // namespace orv::test
