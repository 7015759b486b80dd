// Account names and installation directories of any content through the tray
// tasks' documents: an accepted document carries each value back exactly,
// escaped, so no value can add or end an element of the task.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "tray_task_xml.h"

namespace {

// The text between `open` and `close` in `document`; aborts when either is
// missing or appears twice (a value that added an element would do that).
std::string Between(const std::string& document, const char* open, const char* close)
{
    const std::size_t start = document.find(open);
    if (start == std::string::npos || document.find(open, start + 1) != std::string::npos)
        std::abort();
    const std::size_t from = start + std::strlen(open);
    const std::size_t end = document.find(close, from);
    if (end == std::string::npos || document.find(close, end + 1) != std::string::npos)
        std::abort();
    return document.substr(from, end - from);
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<' || text[i] == '>')
            std::abort(); // markup inside a value
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        static constexpr const char* kEntities[][2] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}};
        bool known = false;
        for (const auto& entity : kEntities) {
            if (text.compare(i, std::strlen(entity[0]), entity[0]) == 0) {
                out += entity[1];
                i += std::strlen(entity[0]) - 1;
                known = true;
                break;
            }
        }
        if (!known)
            std::abort(); // a bare "&" makes the document invalid
    }
    return out;
}

// Both documents, the logon task's and the one-shot's, carry the values back.
void CheckDocument(const TrayTaskPieces& pieces, const std::string& directory, const std::string& user)
{
    std::string document;
    for (const char* piece : pieces.piece) {
        if (strnlen(piece, kTaskPieceSize) >= kTaskPieceSize)
            std::abort();
        document += piece;
    }
    if (Unescape(Between(document, "<UserId>", "</UserId>")) != user)
        std::abort();
    if (Unescape(Between(document, "<Command>\"", "\\bin\\Nimbet.exe\"</Command>")) != directory)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> f = SplitFields(data, size, 2);
    TrayTaskPieces pieces;
    if (ComposeTrayTask(f[0].c_str(), f[1].c_str(), &pieces))
        CheckDocument(pieces, f[0], f[1]);
    if (ComposeCommitTask(f[0].c_str(), f[1].c_str(), "2026-12-31T23:59:59", &pieces))
        CheckDocument(pieces, f[0], f[1]);
    return 0;
}
