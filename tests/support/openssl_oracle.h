// OpenSSL's libcrypto as an independent oracle for the differential tests.
#pragma once

#include "support/test_support.h"

namespace adrvet_test {

// AES-128-CTR of `data` from counter block `iv` (one continuous keystream).
Bytes openssl_aes128_ctr(const Bytes& key, const Bytes& iv, const Bytes& data);

}  // namespace adrvet_test
