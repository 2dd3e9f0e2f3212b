// Owning handles for OpenSSL objects, so that none outlives its scope or leaks on early return.
#pragma once

#include <memory>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

namespace orv::crypto {

template <class T, void (*Free)(T*)>
struct OpenSslDeleter {
  void operator()(T* object) const { Free(object); }
};

template <class T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

using PkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using MdCtxPtr = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using BignumPtr = OpenSslPtr<BIGNUM, BN_free>;
using EcdsaSigPtr = OpenSslPtr<ECDSA_SIG, ECDSA_SIG_free>;

}  // namespace orv::crypto
