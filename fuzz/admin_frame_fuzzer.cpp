// The admin channel's inbound byte stream: framing, the authentication gate, then the body
// decodes chosen by path (the reader decodes snapshots, monitor batches and action results). Input: pieces of [flags][u16 length][bytes]; flag bit 0 set means the
// piece is a JSON body to be framed with its correct length, otherwise raw stream bytes.
#include "core/admin_frame_reader.h"
#include "fuzz/fuzz_input.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    AdminFrameReader reader;
    // Most inputs would stop at the gate; let half of them start authenticated.
    if (input.byte() & 1) {
        const std::string hello = R"({"path":"/admin/authenticated","args":[]})";
        const auto frame = fuzz::lengthPrefixed({reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size()});
        reader.append(QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())));
    }
    while (!input.empty()) {
        const std::uint8_t flags = input.byte();
        const auto piece = input.take(input.u16());
        if (flags & 1) {
            const auto frame = fuzz::lengthPrefixed(piece);
            reader.append(QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())));
        } else {
            reader.append(QByteArray(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size())));
        }
        const bool wasAuthenticated = reader.authenticated();
        const auto outcome = reader.consume();
        // Nothing is handed on from a connection that never authenticated.
        if (!wasAuthenticated && !reader.authenticated() && !outcome.messages.empty()) __builtin_trap();
        if (outcome.failure) reader.reset();
    }
    return 0;
}
