#include "cli/verifiers.h"

#include "sig/chain.h"
#include "sig/receipt.h"

namespace orv::cli {

Verifiers builtin_verifiers() {
  Verifiers verifiers;
  verifiers.receipt = [](const ReceiptInputs& in) { return sig::check_receipt(in.document, in.key); };
  verifiers.chain = [](const ChainInputs& in) {
    return sig::check_chain(in.document, in.heads, in.key, in.keep_entries);
  };
  return verifiers;
}

}  // namespace orv::cli
