// Response heads and bodies from a hostile peer, through the socket HTTP
// client: status line, header lines, Content-Length, chunked framing and
// redirects, with the receive sizes chosen by the input too.
//
// Input: byte 0 picks the read size of the body reads (1..256) and whether
// they fill; bytes 1..8 are the sizes the peer's sends are cut into, used in
// turn; the rest is what the peer sends, split into answers at each "\0\0"
// (one answer per request, so 302 chains reach the next answer).
#include "../tests/fakes/ScriptedSocket.h"
#include "FuzzSupport.h"
#include "net/CHttpSocketClient.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9)
        return 0;
    const DWORD readSize = 1 + (data[0] & 0x7F) * 2;
    const bool fill = (data[0] & 0x80) != 0;
    std::vector<int> cuts(data + 1, data + 9);
    std::string stream(reinterpret_cast<const char*>(data + 9), size - 9);

    CScriptedSocket socket;
    fuzz::ForEachPiece(stream, std::string_view("\0\0", 2),
                       [&socket](const std::string& answer) { socket.mAnswers.push_back(answer); });
    socket.mCut = [&cuts](int index, int, int) { return cuts[static_cast<size_t>(index) % cuts.size()] + 1; };
    socket.mAtEnd = (data[0] & 1) ? CScriptedSocket::AtEnd::Error : CScriptedSocket::AtEnd::PeerClosed;

    CHttpSocketClient client(&socket);
    client.SetCredentials(CHttpCredential(CHttpCredential::kKindServer, 0, "user", "pass"));
    if (!client.Connect("127.0.0.1", 80, true))
        return 0;
    if (client.Get("/path?query")) {
        std::vector<BYTE> buffer(readSize);
        size_t total = 0;
        // Every read either delivers or ends; a bounded number of them must
        // drain any input, so a read that neither delivers nor ends is a bug.
        for (size_t reads = 0; reads <= stream.size() + 2; ++reads) {
            DWORD length = readSize;
            bool ok = client.Read(buffer.data(), &length, fill);
            Check(length <= readSize);
            if (!ok || length == 0)
                break;
            total += length;
        }
        Check(total <= stream.size()); // no more body than bytes on the wire
    }
    client.Disconnect();
    return 0;
}
