#include "reply_parser.h"

#include <climits>
#include <cstring>

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

// Whole-text, case-sensitive comparison of a token with a name.
bool TokenIs(const Document& doc, std::size_t i, const char* name)
{
    const jsmntok_t& token = doc.tokens[i];
    const std::size_t length = TokenLength(token);
    return token.start >= 0 && std::strlen(name) == length && std::memcmp(doc.text + token.start, name, length) == 0;
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

// One text field of a section (or of the current list entry).
struct TextMember {
    const char* name;
    char* field;
    std::size_t size;
};

ConfigEntry* CurrentConfigEntry()
{
    return entryIndex >= 0 && entryIndex < kConfigEntryCount ? &replyRecord.config.entries[entryIndex] : nullptr;
}

CommandEntry* CurrentCommandEntry()
{
    return entryIndex >= 0 && entryIndex < kCommandEntryCount ? &replyRecord.command.entries[entryIndex] : nullptr;
}

// The member step on the token at position i: on a name of the section, the
// next token is its value (stored when it is a string) and the walk goes on
// after it; otherwise the walk goes on with the next token. A name without a
// value ends the walk.
std::size_t MemberStep(const Document& doc, Section section, std::size_t i)
{
    int* result = nullptr;
    // Names in the order they are compared; a null field drops the value
    // (an entry member while no entry is selected).
    TextMember members[6] = {};
    std::size_t memberCount = 0;

    switch (section) {
    case Section::kSoft: {
        SoftwareReply& soft = replyRecord.soft;
        result = &soft.result;
        members[0] = {"v_sw", soft.v_sw, sizeof soft.v_sw};
        members[1] = {"file_sw", soft.file_sw, sizeof soft.file_sw};
        members[2] = {"url_sw", soft.url_sw, sizeof soft.url_sw};
        memberCount = 3;
        break;
    }
    case Section::kConfig: {
        result = &replyRecord.config.result;
        ConfigEntry* entry = CurrentConfigEntry();
        members[0] = {"v_cnf", entry ? entry->v_cnf : nullptr, kConfigVersionSize};
        members[1] = {"is_cnf", entry ? entry->is_cnf : nullptr, kConfigKindSize};
        members[2] = {"sub_dir", entry ? entry->sub_dir : nullptr, kConfigSubDirSize};
        members[3] = {"file_cnf", entry ? entry->file_cnf : nullptr, kConfigFileSize};
        members[4] = {"url_cnf", entry ? entry->url_cnf : nullptr, kConfigUrlSize};
        memberCount = 5;
        break;
    }
    case Section::kCommand: {
        result = &replyRecord.command.result;
        CommandEntry* entry = CurrentCommandEntry();
        members[0] = {"v_cmd", entry ? entry->v_cmd : nullptr, kCommandVersionSize};
        members[1] = {"cod_cmd", entry ? entry->cod_cmd : nullptr, kCommandCodeSize};
        memberCount = 2;
        break;
    }
    case Section::kStatus: {
        StatusReply& status = replyRecord.status;
        result = &status.result;
        members[0] = {"v_stt", status.v_stt, sizeof status.v_stt};
        members[1] = {"stt", status.stt, sizeof status.stt};
        members[2] = {"msg", status.msg, sizeof status.msg};
        members[3] = {"int", status.int_stt, sizeof status.int_stt};
        members[4] = {"per", status.per, sizeof status.per};
        memberCount = 5;
        break;
    }
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
    if (value.type == JSMN_STRING) {
        if (isResult) {
            *result = TokenToInt(doc, value);
        } else if (member->field != nullptr) {
            CopyToField(doc, value, member->field, member->size);
        }
    }
    return i + 2;
}

// Section names switch the current section; compared in this order.
bool SectionName(const Document& doc, std::size_t i, Section* section)
{
    static constexpr struct {
        const char* name;
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
    std::size_t read = 0;
    std::size_t write = 0;
    while (read < kReplyBufferSize && text[read] != '\0') {
        const char c = text[read];
        // A space is dropped when the character after it, as received, is a
        // space too, so a run keeps its last space.
        const bool spaceBeforeSpace = c == ' ' && read + 1 < kReplyBufferSize && text[read + 1] == ' ';
        if (c != '\t' && c != '\n' && !spaceBeforeSpace) {
            text[write++] = c;
        }
        ++read;
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

    std::memset(&replyRecord, 0, sizeof replyRecord);
    entryIndex = 0;
    const std::size_t count =
        static_cast<std::size_t>(produced) < kReplyTokenCount ? static_cast<std::size_t>(produced) : kReplyTokenCount;
    Walk(Document{text, tokens, count});
    return 1;
}
