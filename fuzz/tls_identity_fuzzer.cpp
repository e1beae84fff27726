// The stored TLS identity record: a bounded JSON read, then the certificate's PEM to DER and
// X.509 parse. Only BridgeTLSIdentityError and the JSON parser's own error may come out.
#include "core/bridge_tls_identity.h"
#include "fuzz/fuzz_input.h"

#include <nlohmann/json.hpp>

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    const auto rest = input.rest();
    const QByteArray bytes(reinterpret_cast<const char*>(rest.data()), qsizetype(rest.size()));
    try {
        if (mode & 1) {
            // The bytes as the certificate PEM itself, reaching the Base64 and X.509 readers directly.
            (void)BridgeTLSIdentity::certificateDER(QString::fromUtf8(bytes));
        } else {
            const auto identity = BridgeTLSIdentity::decode(bytes);
            if (!(BridgeTLSIdentity::decode(identity.encode()) == identity)) __builtin_trap();
            (void)identity.description();
            (void)identity.fingerprint();
        }
    } catch (const BridgeTLSIdentityError&) {
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
