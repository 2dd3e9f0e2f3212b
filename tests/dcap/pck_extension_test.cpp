// The SGX extension of PCK certificates, built entry by entry so that each malformation is the
// only one in its input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/byte_reader.h"
#include "core/hex.h"
#include "dcap/pck_extension.h"
#include "support/intel_pki.h"

namespace orv::dcap {
namespace {

using test::der;
using test::der_entry;
using test::der_integer;
using test::der_octets;
using test::der_oid;
using test::der_sequence;

const std::string kBase = "1.2.840.113741.1.13.1";
using Bytes = std::vector<uint8_t>;

Bytes octets(size_t n, uint8_t fill = 0x01) { return der_octets(Bytes(n, fill)); }
Bytes enumerated(Bytes content) { return der(0x0A, content); }
Bytes boolean(Bytes content) { return der(0x01, content); }

// The parts of a well-formed extension, for a test to replace one of.
struct Parts {
  Bytes cpusvn = der_entry(kBase + ".2.18", octets(16, 0x02));
  Bytes pcesvn = der_entry(kBase + ".2.17", der_integer(13));
  std::vector<Bytes> tcb_extra;
  Bytes fmspc = der_entry(kBase + ".4", der_octets(Bytes{0x20, 0xA0, 0x6F, 0, 0, 0}));
  Bytes sgx_type = der_entry(kBase + ".5", enumerated({0x01}));
  std::optional<Bytes> configuration = der_entry(
      kBase + ".7", der_sequence({der_entry(kBase + ".7.1", boolean({0xFF})), der_entry(kBase + ".7.3", boolean({0x00}))}));
  std::vector<Bytes> extra;

  Bytes build() const {
    std::vector<Bytes> tcb = {der_entry(kBase + ".2.1", der_integer(2))};
    if (!pcesvn.empty()) tcb.push_back(pcesvn);
    if (!cpusvn.empty()) tcb.push_back(cpusvn);
    tcb.insert(tcb.end(), tcb_extra.begin(), tcb_extra.end());
    std::vector<Bytes> top = {der_entry(kBase + ".1", octets(16)), der_entry(kBase + ".2", der_sequence(tcb))};
    if (!fmspc.empty()) top.push_back(fmspc);
    if (!sgx_type.empty()) top.push_back(sgx_type);
    if (configuration) top.push_back(*configuration);
    top.insert(top.end(), extra.begin(), extra.end());
    return der_sequence(top);
  }
};

std::string failure_of(const Bytes& value) {
  Expected<PckExtensions, dcap::Failure> parsed = parse_sgx_extension(value);
  return parsed ? "parsed" : parsed.error().text();
}

TEST(SgxExtension, ReadsTheValuesThePolicyNeeds) {
  Expected<PckExtensions, dcap::Failure> parsed = parse_sgx_extension(Parts{}.build());
  ASSERT_TRUE(parsed.ok()) << parsed.error().text();
  EXPECT_EQ(hex_encode(parsed->cpusvn), "02020202020202020202020202020202");
  EXPECT_EQ(parsed->pcesvn, 13);
  EXPECT_EQ(hex_encode(parsed->fmspc), "20a06f000000");
  EXPECT_EQ(parsed->sgx_type, 1u);
  EXPECT_EQ(parsed->dynamic_platform, true);
  EXPECT_FALSE(parsed->cached_keys.has_value());
  EXPECT_EQ(parsed->smt_enabled, false);

  Parts without;
  without.configuration.reset();
  parsed = parse_sgx_extension(without.build());
  ASSERT_TRUE(parsed.ok());
  EXPECT_FALSE(parsed->dynamic_platform || parsed->cached_keys || parsed->smt_enabled);

  // The largest PCESVN, written with its sign byte.
  Parts big;
  big.pcesvn = der_entry(kBase + ".2.17", der_integer(65535));
  parsed = parse_sgx_extension(big.build());
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->pcesvn, 65535);
}

TEST(SgxExtension, StructureFaultsAreNamed) {
  const Bytes good = Parts{}.build();
  Bytes trailing = good;
  trailing.push_back(0x00);
  EXPECT_EQ(failure_of(trailing), "Failed to decode DER object");
  EXPECT_EQ(failure_of(Bytes(good.begin(), good.end() - 1)), "Failed to decode DER object");
  EXPECT_EQ(failure_of({}), "Failed to decode DER object");
  // A length in the long form where the short one fits is not DER.
  EXPECT_EQ(failure_of({0x30, 0x81, 0x00}), "Failed to decode DER object");
  EXPECT_EQ(failure_of({0x30, 0x80, 0x00, 0x00}), "Failed to decode DER object");
  EXPECT_EQ(failure_of(der(0x31, Bytes{})), "Failed to load sequence");

  EXPECT_EQ(failure_of(der_sequence({der_octets(Bytes{1})})), "Failed to read entry inside Intel extension");
  EXPECT_EQ(failure_of(der_sequence({der_sequence({der_octets(Bytes{1}), der_integer(1)})})), "Failed to read OID");
  EXPECT_EQ(failure_of(der_sequence({der_sequence({der(0x06, Bytes{0x2A, 0x80})})})), "Failed to read OID");
  EXPECT_EQ(failure_of(der_sequence({der_sequence({der(0x06, Bytes{0x80, 0x01})})})), "Failed to read OID");
  EXPECT_EQ(failure_of(der_sequence({der_sequence({der_oid(kBase + ".9")})})), "Failed to read value");
  EXPECT_EQ(failure_of(der_sequence({der_sequence({der_oid(kBase + ".9"), der_integer(1), der_integer(2)})})),
            "Failed to read entry inside Intel extension");

  Bytes tcb_not_sequence = der_sequence({der_entry(kBase + ".2", der_octets(Bytes{1}))});
  EXPECT_EQ(failure_of(tcb_not_sequence), "Failed to load nested sequence");
  Parts flags;
  flags.configuration = der_entry(kBase + ".7", boolean({0xFF}));
  EXPECT_EQ(failure_of(flags.build()), "Failed to load nested sequence");
}

TEST(SgxExtension, DuplicateOidsAreRefusedAtEveryLevel) {
  Parts top;
  top.extra = {top.fmspc};
  EXPECT_EQ(failure_of(top.build()), "extension 1.2.840.113741.1.13.1.4 appears more than once");
  Parts tcb;
  tcb.tcb_extra = {der_entry(kBase + ".2.17", der_integer(1))};
  EXPECT_EQ(failure_of(tcb.build()), "extension 1.2.840.113741.1.13.1.2.17 appears more than once");
  Parts flag;
  flag.configuration =
      der_entry(kBase + ".7", der_sequence({der_entry(kBase + ".7.2", boolean({0})), der_entry(kBase + ".7.2", boolean({0}))}));
  EXPECT_EQ(failure_of(flag.build()), "extension 1.2.840.113741.1.13.1.7.2 appears more than once");
  // Unknown entries are carried along, but they too may not repeat.
  Parts unknown;
  unknown.extra = {der_entry(kBase + ".99", der_integer(1)), der_entry(kBase + ".99", der_integer(1))};
  EXPECT_EQ(failure_of(unknown.build()), "extension 1.2.840.113741.1.13.1.99 appears more than once");
}

TEST(SgxExtension, RequiredValuesMustBePresentAndWellFormed) {
  Parts no_cpusvn;
  no_cpusvn.cpusvn.clear();
  EXPECT_EQ(failure_of(no_cpusvn.build()), "Intel extension path 1.2.840.113741.1.13.1.2.18 is missing");
  Parts no_pcesvn;
  no_pcesvn.pcesvn.clear();
  EXPECT_EQ(failure_of(no_pcesvn.build()), "Intel extension path 1.2.840.113741.1.13.1.2.17 is missing");
  Parts no_fmspc;
  no_fmspc.fmspc.clear();
  EXPECT_EQ(failure_of(no_fmspc.build()), "Intel extension path 1.2.840.113741.1.13.1.4 is missing");
  Parts no_type;
  no_type.sgx_type.clear();
  EXPECT_EQ(failure_of(no_type.build()), "Intel extension path 1.2.840.113741.1.13.1.5 is missing");
  EXPECT_EQ(failure_of(der_sequence({der_entry(kBase + ".4", octets(6))})),
            "Intel extension path 1.2.840.113741.1.13.1.2 is missing");

  const auto with = [](auto change) {
    Parts parts;
    change(parts);
    return failure_of(parts.build());
  };
  EXPECT_EQ(with([](Parts& p) { p.cpusvn = der_entry(kBase + ".2.18", der_integer(2)); }), "Failed to decode CpuSvn");
  EXPECT_EQ(with([](Parts& p) { p.cpusvn = der_entry(kBase + ".2.18", octets(15)); }), "CpuSvn length mismatch");
  EXPECT_EQ(with([](Parts& p) { p.cpusvn = der_entry(kBase + ".2.18", octets(17)); }), "CpuSvn length mismatch");
  EXPECT_EQ(with([](Parts& p) { p.pcesvn = der_entry(kBase + ".2.17", octets(2)); }), "Failed to find PceSvn");
  EXPECT_EQ(with([](Parts& p) { p.pcesvn = der_entry(kBase + ".2.17", der_integer(65536)); }), "PceSvn length mismatch");
  EXPECT_EQ(with([](Parts& p) { p.pcesvn = der_entry(kBase + ".2.17", der(0x02, Bytes{0xFF})); }), "PceSvn length mismatch");
  EXPECT_EQ(with([](Parts& p) {
              p.pcesvn = der_entry(kBase + ".2.17", der(0x02, Bytes{0x00, 0x05}));
            }),
            "PceSvn length mismatch");
  EXPECT_EQ(with([](Parts& p) { p.pcesvn = der_entry(kBase + ".2.17", der(0x02, Bytes{})); }), "PceSvn length mismatch");
  EXPECT_EQ(with([](Parts& p) { p.fmspc = der_entry(kBase + ".4", enumerated({1})); }), "Failed to find Fmspc");
  EXPECT_EQ(with([](Parts& p) { p.fmspc = der_entry(kBase + ".4", octets(5)); }), "Fmspc length mismatch");
  EXPECT_EQ(with([](Parts& p) { p.sgx_type = der_entry(kBase + ".5", enumerated({0, 1})); }), "Unexpected ENUMERATED length");
  EXPECT_EQ(with([](Parts& p) { p.sgx_type = der_entry(kBase + ".5", der_integer(1)); }), "Unexpected ENUMERATED length");
  EXPECT_EQ(with([](Parts& p) {
              p.configuration = der_entry(kBase + ".7", der_sequence({der_entry(kBase + ".7.3", boolean({0, 0}))}));
            }),
            "Unexpected BOOLEAN length: 2");
  EXPECT_EQ(
      with([](Parts& p) { p.configuration = der_entry(kBase + ".7", der_sequence({der_entry(kBase + ".7.1", boolean({}))})); }),
      "Unexpected BOOLEAN length: 0");
}

TEST(SgxExtension, OidTextIsDottedDecimal) {
  const Bytes oid = der_oid("1.2.840.113741.1.13.1.2.18");
  EXPECT_EQ(oid_text(std::span(oid).subspan(2)), "1.2.840.113741.1.13.1.2.18");
  EXPECT_EQ(oid_text(Bytes{0x55, 0x1D, 0x14}), "2.5.29.20");
  EXPECT_EQ(oid_text(Bytes{0x88, 0x37}), "2.999");
  EXPECT_FALSE(oid_text(Bytes{}));
  EXPECT_FALSE(oid_text(Bytes{0x2A, 0x86}));
  Bytes huge(10, 0xFF);
  huge.push_back(0x7F);
  EXPECT_FALSE(oid_text(huge));  // an arc beyond 64 bits
}

}  // namespace
}  // namespace orv::dcap
