#include "reply_parser.h"

#include <climits>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>

#include "reply_buffer.h"
#include "reply_record.h"

// The tokenizer's implementation lives in this file only; non-strict mode.
#define JSMN_STATIC
#include <jsmn.h>

namespace {

enum class Section { kStatus, kSoft, kConfig, kCommand };

// The document being walked: the text and the tokens the tokenizer produced.
struct Document {
    const char* text;
    const jsmntok_t* tokens;
    std::size_t count;
};

std::size_t TokenLength(const jsmntok_t& token)
{
    return token.end > token.start ? static_cast<std::size_t>(token.end - token.start) : 0;
}

// Whole-text, case-sensitive comparison of a token with a name. The length
// goes first: most tokens differ from most names in it, and the names' lengths
// are known when the program is compiled.
bool TokenIs(const Document& doc, std::size_t i, std::string_view name)
{
    const jsmntok_t& token = doc.tokens[i];
    const std::size_t length = TokenLength(token);
    if (token.start < 0 || name.size() != length) {
        return false;
    }
    // Names are a few bytes long: a loop here beats a call to memcmp.
    const char* text = doc.text + token.start;
    for (std::size_t k = 0; k < length; ++k) {
        if (text[k] != name[k]) {
            return false;
        }
    }
    return true;
}

// Whether any byte of `block` equals `byte`: the classic zero-byte test on
// the block with that byte cancelled out.
bool HasByte(std::uint64_t block, unsigned char byte)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const std::uint64_t x = block ^ (kOnes * byte);
    return ((x - kOnes) & ~x & kHighs) != 0;
}

bool IsSpaceForNumber(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Decimal reading with atoi's rules (leading blanks, a sign, digits up to the
// first other character, 0 when there are none), kept inside the token and
// saturated instead of overflowing.
int TokenToInt(const Document& doc, const jsmntok_t& token)
{
    const char* p = doc.text + token.start;
    const char* end = p + TokenLength(token);
    while (p < end && IsSpaceForNumber(*p)) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

// Copies the token's text into a field, cut to the field's capacity less one.
void CopyToField(const Document& doc, const jsmntok_t& token, char* field, std::size_t fieldSize)
{
    std::size_t length = TokenLength(token);
    if (length > fieldSize - 1) {
        length = fieldSize - 1;
    }
    std::memcpy(field, doc.text + token.start, length);
    field[length] = '\0';
}

// One text field of a section (or of a list entry): its member name, and
// where the field lies in the section's (or the entry's) structure.
struct TextMember {
    std::string_view name;
    std::size_t offset;
    std::size_t size;
};

// The member names of each section in the order they are compared.
#define KVL_TEXT_MEMBER(type, name, field)                                                                             \
    {                                                                                                                  \
        name, offsetof(type, field), sizeof(type::field)                                                               \
    }
constexpr TextMember kSoftMembers[] = {
    KVL_TEXT_MEMBER(SoftwareReply, "v_sw", v_sw),
    KVL_TEXT_MEMBER(SoftwareReply, "file_sw", file_sw),
    KVL_TEXT_MEMBER(SoftwareReply, "url_sw", url_sw),
};
constexpr TextMember kConfigMembers[] = {
    KVL_TEXT_MEMBER(ConfigEntry, "v_cnf", v_cnf),     KVL_TEXT_MEMBER(ConfigEntry, "is_cnf", is_cnf),
    KVL_TEXT_MEMBER(ConfigEntry, "sub_dir", sub_dir), KVL_TEXT_MEMBER(ConfigEntry, "file_cnf", file_cnf),
    KVL_TEXT_MEMBER(ConfigEntry, "url_cnf", url_cnf),
};
constexpr TextMember kCommandMembers[] = {
    KVL_TEXT_MEMBER(CommandEntry, "v_cmd", v_cmd),
    KVL_TEXT_MEMBER(CommandEntry, "cod_cmd", cod_cmd),
};
constexpr TextMember kStatusMembers[] = {
    KVL_TEXT_MEMBER(StatusReply, "v_stt", v_stt), KVL_TEXT_MEMBER(StatusReply, "stt", stt),
    KVL_TEXT_MEMBER(StatusReply, "msg", msg),     KVL_TEXT_MEMBER(StatusReply, "int", int_stt),
    KVL_TEXT_MEMBER(StatusReply, "per", per),
};
#undef KVL_TEXT_MEMBER

// Which sections, and how many leading entries of each list, a walk may have
// written since the record was last cleared. Clearing the whole record costs
// more than most replies take to parse (the configuration list alone is about
// 31 KB), so each parse clears only what the previous walks could have
// reached; the rest is still zero from the clear before. The record starts
// out unknown to these marks, so the first parse clears it all.
bool statusUsed = true;
bool softUsed = true;
int configEntriesUsed = kConfigEntryCount;
int commandEntriesUsed = kCommandEntryCount;

ConfigEntry* CurrentConfigEntry()
{
    if (entryIndex < 0 || entryIndex >= kConfigEntryCount)
        return nullptr;
    if (entryIndex >= configEntriesUsed)
        configEntriesUsed = entryIndex + 1;
    return &replyRecord.config.entries[entryIndex];
}

CommandEntry* CurrentCommandEntry()
{
    if (entryIndex < 0 || entryIndex >= kCommandEntryCount)
        return nullptr;
    if (entryIndex >= commandEntriesUsed)
        commandEntriesUsed = entryIndex + 1;
    return &replyRecord.command.entries[entryIndex];
}

// Leaves every byte of the record zero, as a clear of the whole record would.
void ClearRecord()
{
    if (statusUsed) {
        std::memset(&replyRecord.status, 0, sizeof replyRecord.status);
    }
    if (softUsed) {
        std::memset(&replyRecord.soft, 0, sizeof replyRecord.soft);
    }
    replyRecord.config.result = 0;
    std::memset(replyRecord.config.entries, 0, sizeof(ConfigEntry) * static_cast<std::size_t>(configEntriesUsed));
    replyRecord.command.result = 0;
    std::memset(replyRecord.command.entries, 0, sizeof(CommandEntry) * static_cast<std::size_t>(commandEntriesUsed));
    statusUsed = false;
    softUsed = false;
    configEntriesUsed = 0;
    commandEntriesUsed = 0;
}

// The member step on the token at position i: on a name of the section, the
// next token is its value (stored when it is a string) and the walk goes on
// after it; otherwise the walk goes on with the next token. A name without a
// value ends the walk.
std::size_t MemberStep(const Document& doc, Section section, std::size_t i)
{
    const TextMember* members = nullptr;
    std::size_t memberCount = 0;
    switch (section) {
    case Section::kSoft:
        members = kSoftMembers;
        memberCount = std::size(kSoftMembers);
        break;
    case Section::kConfig:
        members = kConfigMembers;
        memberCount = std::size(kConfigMembers);
        break;
    case Section::kCommand:
        members = kCommandMembers;
        memberCount = std::size(kCommandMembers);
        break;
    case Section::kStatus:
        members = kStatusMembers;
        memberCount = std::size(kStatusMembers);
        break;
    }

    // "result" comes first in every section.
    const bool isResult = TokenIs(doc, i, "result");
    const TextMember* member = nullptr;
    for (std::size_t m = 0; !isResult && m < memberCount; ++m) {
        if (TokenIs(doc, i, members[m].name)) {
            member = &members[m];
            break;
        }
    }
    if (!isResult && member == nullptr) {
        return i + 1;
    }
    if (i + 1 >= doc.count) {
        return doc.count;
    }

    const jsmntok_t& value = doc.tokens[i + 1];
    if (value.type != JSMN_STRING) {
        return i + 2;
    }
    // The structure the value goes to; an entry member while no entry is
    // selected is dropped.
    int* result = nullptr;
    char* base = nullptr;
    switch (section) {
    case Section::kSoft:
        softUsed = true;
        result = &replyRecord.soft.result;
        base = reinterpret_cast<char*>(&replyRecord.soft);
        break;
    case Section::kConfig:
        result = &replyRecord.config.result;
        if (!isResult) {
            base = reinterpret_cast<char*>(CurrentConfigEntry());
        }
        break;
    case Section::kCommand:
        result = &replyRecord.command.result;
        if (!isResult) {
            base = reinterpret_cast<char*>(CurrentCommandEntry());
        }
        break;
    case Section::kStatus:
        statusUsed = true;
        result = &replyRecord.status.result;
        base = reinterpret_cast<char*>(&replyRecord.status);
        break;
    }
    if (isResult) {
        *result = TokenToInt(doc, value);
    } else if (base != nullptr) {
        CopyToField(doc, value, base + member->offset, member->size);
    }
    return i + 2;
}

// Section names switch the current section; compared in this order.
bool SectionName(const Document& doc, std::size_t i, Section* section)
{
    static constexpr struct {
        std::string_view name;
        Section section;
    } kSections[] = {
        {"soft", Section::kSoft},
        {"config", Section::kConfig},
        {"command", Section::kCommand},
        {"status", Section::kStatus},
    };
    for (const auto& candidate : kSections) {
        if (TokenIs(doc, i, candidate.name)) {
            *section = candidate.section;
            return true;
        }
    }
    return false;
}

void Walk(const Document& doc)
{
    Section section = Section::kStatus;
    std::size_t i = 0;
    while (i < doc.count) {
        const jsmntok_t& token = doc.tokens[i];
        switch (token.type) {
        case JSMN_OBJECT:
            if (entryIndex < kConfigEntryCount) {
                ++entryIndex;
            }
            ++i;
            break;
        case JSMN_ARRAY:
            entryIndex = -1;
            ++i;
            break;
        case JSMN_STRING:
            if (SectionName(doc, i, &section)) {
                ++i; // the section name's value
                if (i >= doc.count) {
                    return;
                }
                // An object value is entered and counted like any other; any
                // other value gets the member step of the new section.
                if (doc.tokens[i].type != JSMN_OBJECT) {
                    i = MemberStep(doc, section, i);
                }
            } else {
                i = MemberStep(doc, section, i);
            }
            break;
        default:
            ++i;
            break;
        }
    }
}

} // namespace

std::size_t SqueezeWhitespace(char* text)
{
    if (text == nullptr) {
        return 0;
    }
    // Nothing at or after the terminator is read: a caller's text may end
    // well before the reply buffer's size.
    const std::size_t length = strnlen(text, kReplyBufferSize);
    std::size_t read = 0;
    std::size_t write = 0;
    while (read < length) {
        // Eight bytes at a time while none of them is a tab, a line feed or
        // a space: such a run is kept as it stands, and most of a reply is
        // one.
        while (read + sizeof(std::uint64_t) <= length) {
            std::uint64_t block;
            std::memcpy(&block, text + read, sizeof block);
            if (HasByte(block, '\t') || HasByte(block, '\n') || HasByte(block, ' ')) {
                break;
            }
            if (write != read) {
                std::memcpy(text + write, &block, sizeof block);
            }
            read += sizeof block;
            write += sizeof block;
        }
        // Then byte by byte over the block that holds one, or the tail.
        const std::size_t stop = read + sizeof(std::uint64_t) < length ? read + sizeof(std::uint64_t) : length;
        for (; read < stop; ++read) {
            const char c = text[read];
            // A space is dropped when the character after it, as received, is
            // a space too, so a run keeps its last space.
            const bool spaceBeforeSpace = c == ' ' && read + 1 < length && text[read + 1] == ' ';
            if (c != '\t' && c != '\n' && !spaceBeforeSpace) {
                text[write++] = c;
            }
        }
    }
    // Only a shortened text needs a new terminator, and then it lands inside
    // the part already looked at.
    if (write < read) {
        text[write] = '\0';
    }
    return write;
}

int ParseReply(char* text)
{
    if (text == nullptr) {
        return 0;
    }
    const std::size_t length = SqueezeWhitespace(text);

    jsmntok_t tokens[kReplyTokenCount];
    jsmn_parser parser;
    jsmn_init(&parser);
    const int produced = jsmn_parse(&parser, text, length, tokens, kReplyTokenCount);
    if (produced < 0) {
        return 0;
    }

    ClearRecord();
    entryIndex = 0;
    const std::size_t count =
        static_cast<std::size_t>(produced) < kReplyTokenCount ? static_cast<std::size_t>(produced) : kReplyTokenCount;
    Walk(Document{text, tokens, count});
    return 1;
}
