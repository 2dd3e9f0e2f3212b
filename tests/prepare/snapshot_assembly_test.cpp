// A snapshot from Intel's real responses, rebuilt at test time from ../shared, verified with
// the compiled-in Intel root at fetched_at; and each assembly mistake refused by name.
#include <gtest/gtest.h>

#include <functional>

#include "core/hex.h"
#include "prepare/snapshot_assembly.h"
#include "support/intel_pki.h"
#include "support/shared_data.h"
#include "support/tdx_saved_responses.h"
#include "trust/trust.h"

namespace orv::prepare {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

struct Real {
  fs::path dstack, oasis;
  ReceiptQuote receipt;
};

std::optional<Real> real_material() {
  const auto shared = test::shared_dir();
  if (!shared) return std::nullopt;
  Real real{*shared / "testdata/tdx-real/tee-solver-dstack", *shared / "testdata/tdx-real/oasis-core-testdata", {}};
  const auto receipt = verifier::read_key_receipt(test::real_key_receipt(real.dstack, std::string(3904, 'a')));
  real.receipt.receipt = *receipt;
  real.receipt.quote = *verifier::receipt_quote(*receipt);
  real.receipt.facts = *verifier::read_quote(real.receipt.quote);
  return real;
}

#define REQUIRE_REAL(real)                                                           \
  const std::optional<Real> real##_opt = real_material();                            \
  if (!real##_opt) GTEST_SKIP() << "shared test material not present (fresh clone)"; \
  const Real& real = *real##_opt

SnapshotInputs inputs_of(const Files& files, const ReceiptQuote* receipt = nullptr) {
  const auto saved = [&](const std::string& stem) {
    const auto headers = files.find(stem + ".headers");
    return SavedResponse{files.at(stem + ".body"),
                         headers == files.end() ? std::nullopt : std::optional<std::string>(headers->second)};
  };
  SnapshotInputs in{saved("tcb-info"),
                    saved("qe-identity"),
                    saved("pck-crl"),
                    saved("root-ca-crl"),
                    std::nullopt,
                    receipt,
                    trust::Trust::builtin().intel_root_der};
  return in;
}

TEST(SnapshotAssembly, TheRealResponsesGiveOneVerifiedSnapshotWhateverTheHeaderStyle) {
  REQUIRE_REAL(real);
  const auto first = assemble_snapshot(inputs_of(test::real_saved_responses(real.dstack), &real.receipt));
  ASSERT_TRUE(first) << first.error().what;
  EXPECT_EQ(first->fetched_at, 1757894400u);
  EXPECT_EQ(first->valid_until_what, "the PCK CRL");
  // HTTP/2 names in lower case after a redirect, and without the receipt: the same bytes.
  const Files http2 = test::real_saved_responses(real.dstack, {true, true});
  const auto second = assemble_snapshot(inputs_of(http2));
  ASSERT_TRUE(second) << second.error().what;
  EXPECT_EQ(second->text, first->text);
  // The signed documents travel as their exact bytes.
  const auto reread = verifier::read_snapshot(first->text);
  ASSERT_TRUE(reread);
  EXPECT_EQ(reread->fetched_at, test::kRealFetchedAt);
  EXPECT_EQ(reread->collateral.tcb_info, test::read_file(real.dstack / "tcb_info.json"));
  EXPECT_EQ(reread->collateral.pck_crl, hex_encode(as_bytes(test::read_file(real.dstack / "pck_crl.der"))));

  // fetched_at is the latest Date, or the time given.
  Files later = test::real_saved_responses(real.dstack);
  later["pck-crl.headers"] =
      test::saved_headers("SGX-PCK-CRL-Issuer-Chain", test::read_file(real.dstack / "pck_crl_issuer_chain.pem"),
                          {false, false, "Tue, 16 Sep 2025 10:00:00 GMT"});
  EXPECT_EQ(assemble_snapshot(inputs_of(later))->fetched_at, 1757894400u + 86400 + 36000);
  SnapshotInputs given = inputs_of(later);
  given.fetched_at = 1758000000;
  EXPECT_EQ(assemble_snapshot(given)->fetched_at, 1758000000u);
}

// A CRL in a PCK CA's name, signed by a test key.
std::string test_crl(const std::string& issuer) {
  const test::P256TestKey key;
  test::CertDraft cert;
  cert.common_name = issuer;
  cert.not_after = 4102444800;
  cert.ca = true;
  const auto ca = test::make_certificate(cert, key, nullptr, key);
  test::CrlDraft crl;
  crl.this_update = 1756796631;
  crl.next_update = 1759388631;
  const auto der = test::make_crl(crl, ca.get(), key);
  return std::string(der.begin(), der.end());
}

TEST(SnapshotAssembly, EachMistakeIsRefusedByNameWithWhatToDo) {
  REQUIRE_REAL(real);
  const std::string pck_chain = test::read_file(real.dstack / "pck_crl_issuer_chain.pem");
  ReceiptQuote tampered = real.receipt;
  tampered.quote[100] ^= 1;  // inside the TD report, under the quote's signature
  struct Case {
    const char* what;
    std::function<void(Files&)> change;
    const ReceiptQuote* receipt = nullptr;
    std::optional<uint64_t> fetched_at = std::nullopt;
  };
  const Case cases[] = {
      {"tcb-info.headers: the response has status 404 (\"HTTP/1.1 404 Not Found\")",
       [&](Files& f) { f["tcb-info.headers"] = test::saved_headers("", "", {}, "HTTP/1.1 404 Not Found"); }},
      {"tcb-info.headers: the response has status 302",
       [&](Files& f) { f["tcb-info.headers"] = "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n"; }},
      {"qe-identity.headers is missing", [](Files& f) { f.erase("qe-identity.headers"); }},
      {"pck-crl.headers has no SGX-PCK-CRL-Issuer-Chain header",
       [](Files& f) { f["pck-crl.headers"] = test::saved_headers("", ""); }},
      {"the SGX-PCK-CRL-Issuer-Chain header of pck-crl.headers is not a URL-encoded PEM certificate chain",
       [&](Files& f) { f["pck-crl.headers"] = test::saved_headers("SGX-PCK-CRL-Issuer-Chain", test::url_encode(pck_chain)); }},
      {"tcb-info.headers has no Date header",
       [&](Files& f) {
         f["tcb-info.headers"] = test::saved_headers(
             "TCB-Info-Issuer-Chain", test::read_file(real.dstack / "tcb_info_issuer_chain.pem"), {false, false, ""});
       }},
      {"the Date header of qe-identity.headers is not an HTTP date",
       [&](Files& f) {
         f["qe-identity.headers"] = test::saved_headers("SGX-Enclave-Identity-Issuer-Chain",
                                                        test::read_file(real.dstack / "qe_identity_issuer_chain.pem"),
                                                        {false, false, "2025-09-15T00:00:00Z"});
       }},
      {"qe-identity.body holds the QE identity with id \"QE\" version 2, the SGX one; a TDX quote needs the TDX QE "
       "identity (id \"TD_QE\")",
       [&](Files& f) { f["qe-identity.body"] = test::read_file(real.oasis / "qe_identity_v2.json"); }},
      {"tcb-info.body is TCB info for FMSPC c0806f000000, but the receipt's quote comes from a platform with FMSPC "
       "20a06f000000",
       [&](Files& f) { f["tcb-info.body"] = test::read_file(real.oasis / "tcb_info_v3_tdx_fmspc_C0806F000000.json"); },
       &real.receipt},
      {"tcb-info.body has a member \"tcb_info\"", [&](Files& f) { f["tcb-info.body"] = R"({"tcb_info":{},"signature":""})"; }},
      {"pck-crl.body is a CRL of \"Intel SGX Root CA\", not of a PCK CA",
       [](Files& f) { std::swap(f["pck-crl.body"], f["root-ca-crl.body"]); }},
      {"pck-crl.body is the CRL of the Intel SGX PCK Processor CA, but the receipt's PCK certificate was issued by "
       "the Intel SGX PCK Platform CA",
       [](Files& f) { f["pck-crl.body"] = test_crl("Intel SGX PCK Processor CA"); }, &real.receipt},
      {"the PCK CRL does not verify against Intel's root: the CRL is not signed by Intel SGX PCK Platform CA",
       [](Files& f) { f["pck-crl.body"] = test_crl("Intel SGX PCK Platform CA"); }},
      {"the TDX TCB info is valid from 2025-09-02T07:41:59Z to 2025-10-02T07:41:59Z, and fetched_at "
       "2025-11-01T00:00:00Z is after that",
       [](Files&) {}, nullptr, 1761955200},
      {"the PCK CRL is valid from 2025-09-02T07:03:51Z to 2025-10-02T07:03:51Z, and fetched_at 2025-10-02T07:03:51Z",
       [](Files&) {}, nullptr, 1759388631},
      {"the collateral does not verify against Intel's root at fetched_at 2025-09-15T00:00:00Z: Signature is invalid "
       "for tcb_info in quote_collateral",
       [](Files& f) { f["tcb-info.body"].insert(f["tcb-info.body"].find("\"version\""), "\n  "); }},
      {"the receipt's quote does not verify with this collateral at fetched_at 2025-09-15T00:00:00Z: ISV enclave "
       "report signature is invalid",
       [](Files&) {}, &tampered},
  };
  for (const Case& c : cases) {
    Files files = test::real_saved_responses(real.dstack);
    c.change(files);
    SnapshotInputs in = inputs_of(files, c.receipt);
    in.fetched_at = c.fetched_at;
    const auto made = assemble_snapshot(in);
    ASSERT_FALSE(made) << c.what;
    EXPECT_TRUE(made.error().what.starts_with(c.what)) << made.error().what;
    EXPECT_FALSE(made.error().todo.empty()) << c.what;
  }
}

}  // namespace
}  // namespace orv::prepare
