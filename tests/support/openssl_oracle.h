// OpenSSL's libcrypto as an independent oracle for the differential tests.
#pragma once

#include <string>

#include "support/test_support.h"

namespace adrvet_test {

// AES-128-CTR of `data` from counter block `iv` (one continuous keystream).
Bytes openssl_aes128_ctr(const Bytes& key, const Bytes& iv, const Bytes& data);

// AES-128-ECB and -CBC over whole blocks, without padding.
Bytes openssl_aes128_ecb(const Bytes& key, const Bytes& data, bool encrypt);
Bytes openssl_aes128_cbc(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt);

Bytes openssl_sha256(const Bytes& data);
// The same of a file's content, read piece by piece until its end.
Bytes openssl_sha256_of_file(const std::string& path);

}  // namespace adrvet_test
