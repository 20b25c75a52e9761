#include "foundation/crypto_init.h"

#include <openssl/crypto.h>

#include <mutex>

void InitCryptoLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); });
}
