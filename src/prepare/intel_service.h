// What a TDX collateral snapshot is made of at Intel's provisioning service (API version 4):
// the four documents, where each is fetched, the file names they are saved under, and the
// response header that carries each issuer chain.
#pragma once

#include <string>
#include <string_view>

#include "prepare/verifier.h"

namespace orv::prepare {

struct SavedDocument {
  std::string_view stem;          // "tcb-info": saved as tcb-info.body and tcb-info.headers
  std::string_view title;         // "TDX TCB info"
  std::string_view chain_header;  // the issuer chain's header; empty when none
};

inline constexpr SavedDocument kTcbInfoDocument{"tcb-info", "TDX TCB info", "TCB-Info-Issuer-Chain"};
inline constexpr SavedDocument kQeIdentityDocument{"qe-identity", "TDX QE identity", "SGX-Enclave-Identity-Issuer-Chain"};
inline constexpr SavedDocument kPckCrlDocument{"pck-crl", "PCK CRL", "SGX-PCK-CRL-Issuer-Chain"};
inline constexpr SavedDocument kRootCaCrlDocument{"root-ca-crl", "Intel root CA CRL", ""};

inline std::string tcb_info_url(std::string_view fmspc) {
  return "https://api.trustedservices.intel.com/tdx/certification/v4/tcb?fmspc=" + std::string(fmspc);
}
// The TDX one: the QE identity under /sgx/ describes the SGX quoting enclave.
inline constexpr std::string_view kQeIdentityUrl = "https://api.trustedservices.intel.com/tdx/certification/v4/qe/identity";
// Under /sgx/ even for TDX: the PCK CAs serve both.
inline std::string pck_crl_url(verifier::CaType ca) {
  return "https://api.trustedservices.intel.com/sgx/certification/v4/pckcrl?ca=" + std::string(verifier::ca_query_value(ca)) +
         "&encoding=der";
}
inline constexpr std::string_view kRootCaCrlUrl = "https://certificates.trustedservices.intel.com/IntelSGXRootCA.der";

}  // namespace orv::prepare
