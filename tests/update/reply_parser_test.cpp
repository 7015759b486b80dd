#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "reply_buffer.h"
#include "reply_parser.h"
#include "reply_record.h"

namespace {

// Parses `doc` from the process-wide reply buffer, as the checks do.
int Parse(const std::string& doc)
{
    EXPECT_LT(doc.size(), kReplyBufferSize);
    ResetReplyBuffer();
    std::memcpy(ReplyBuffer, doc.data(), doc.size());
    return ParseReply(ReplyBuffer);
}

std::string ConfigElements(int count)
{
    std::string list;
    for (int i = 0; i < count; ++i) {
        list += (i ? "," : "");
        list += "{\"v_cnf\":\"v" + std::to_string(i) + "\",\"file_cnf\":\"f" + std::to_string(i) + ".conf\"}";
    }
    return list;
}

std::string CommandElements(int count)
{
    std::string list;
    for (int i = 0; i < count; ++i) {
        list += (i ? "," : "");
        list += "{\"cod_cmd\":\"" + std::to_string(i) + "\",\"v_cmd\":\"c" + std::to_string(i) + "\"}";
    }
    return list;
}

constexpr char kFlatStatus[] =
    R"({"result":"0","v_stt":"17","stt":"ativo","msg":"Conta em dia","int":"30","per":"12"})";

TEST(ParseReplyStatus, FlatObjectFillsStatusSection)
{
    ASSERT_EQ(Parse(kFlatStatus), 1);
    const StatusReply& s = replyRecord.status;
    EXPECT_EQ(s.result, 0);
    EXPECT_STREQ(s.v_stt, "17");
    EXPECT_STREQ(s.stt, "ativo");
    EXPECT_STREQ(s.msg, "Conta em dia");
    EXPECT_STREQ(s.int_stt, "30");
    EXPECT_STREQ(s.per, "12");
}

TEST(ParseReplyStatus, ResultIsReadOnlyFromStringsWithAtoiRules)
{
    ASSERT_EQ(Parse(R"({"result":7,"stt":"bloqueado"})"), 1);
    EXPECT_EQ(replyRecord.status.result, 0) << "a bare number is not stored";
    EXPECT_STREQ(replyRecord.status.stt, "bloqueado");

    ASSERT_EQ(Parse(R"({"result":"12abc"})"), 1);
    EXPECT_EQ(replyRecord.status.result, 12);
    ASSERT_EQ(Parse(R"({"result":" -3"})"), 1);
    EXPECT_EQ(replyRecord.status.result, -3);
    ASSERT_EQ(Parse(R"({"result":"abc"})"), 1);
    EXPECT_EQ(replyRecord.status.result, 0);
    // Far beyond the integer range: saturates instead of overflowing.
    ASSERT_EQ(Parse(R"({"result":"99999999999999999999"})"), 1);
    EXPECT_EQ(replyRecord.status.result, INT_MAX);
    ASSERT_EQ(Parse(R"({"result":"-99999999999999999999"})"), 1);
    EXPECT_EQ(replyRecord.status.result, INT_MIN);
}

TEST(ParseReplyStatus, NamesMatchWholeAndCaseSensitive)
{
    ASSERT_EQ(Parse(R"({"v_stt":"5","STT":"x"})"), 1);
    EXPECT_STREQ(replyRecord.status.v_stt, "5");
    EXPECT_STREQ(replyRecord.status.stt, "");

    // "Status" is no section name: the walk stays in the soft section.
    ASSERT_EQ(Parse(R"({"soft":{"v_sw":"1"},"Status":{"stt":"ativo"}})"), 1);
    EXPECT_STREQ(replyRecord.soft.v_sw, "1");
    EXPECT_STREQ(replyRecord.status.stt, "");
}

TEST(ParseReplyStatus, OverlongValuesAreCutToTheirField)
{
    const std::string msg(300, 'm');
    ASSERT_EQ(Parse("{\"msg\":\"" + msg + "\",\"int\":\"1234567890123\"}"), 1);
    EXPECT_EQ(std::string(replyRecord.status.msg), msg.substr(0, kStatusMessageSize - 1));
    EXPECT_STREQ(replyRecord.status.int_stt, "123456789");
}

TEST(ParseReplySections, SoftObjectFillsSoftwareAndLaterReplyClearsIt)
{
    ASSERT_EQ(Parse(R"({"soft":{"result":"0","v_sw":"2.4.1",)"
                    R"("url_sw":"https:\/\/dl.example\/p.msi","file_sw":"p.msi"}})"),
              1);
    const SoftwareReply& soft = replyRecord.soft;
    EXPECT_EQ(soft.result, 0);
    EXPECT_STREQ(soft.v_sw, "2.4.1");
    // Escapes are kept as received.
    EXPECT_STREQ(soft.url_sw, R"(https:\/\/dl.example\/p.msi)");
    EXPECT_STREQ(soft.file_sw, "p.msi");
    ASSERT_EQ(Parse(kFlatStatus), 1);
    EXPECT_STREQ(replyRecord.soft.v_sw, "");
    EXPECT_STREQ(replyRecord.soft.file_sw, "");
    EXPECT_STREQ(replyRecord.status.stt, "ativo");
}

TEST(ParseReplySections, EscapesAreKeptUndecoded)
{
    ASSERT_EQ(Parse(R"({"msg":"Conex\u00e3o \"suspensa\"\\"})"), 1);
    EXPECT_STREQ(replyRecord.status.msg, R"(Conex\u00e3o \"suspensa\"\\)");
}

TEST(ParseReplySections, ResettingArrayFillsConfigEntriesFromZero)
{
    ASSERT_EQ(Parse(R"({"config":{"result":"0","files":[)"
                    R"({"v_cnf":"3","is_cnf":"1","url_cnf":"https://h/a.ovpn","sub_dir":"","file_cnf":"a.ovpn"},)"
                    R"({"v_cnf":"4","is_cnf":"0","url_cnf":"https://h/b.ini","sub_dir":"etc","file_cnf":"b.ini"}]}})"),
              1);
    const ConfigReply& config = replyRecord.config;
    EXPECT_EQ(config.result, 0);
    EXPECT_STREQ(config.entries[0].v_cnf, "3");
    EXPECT_STREQ(config.entries[0].is_cnf, "1");
    EXPECT_STREQ(config.entries[0].url_cnf, "https://h/a.ovpn");
    EXPECT_STREQ(config.entries[0].file_cnf, "a.ovpn");
    EXPECT_STREQ(config.entries[1].v_cnf, "4");
    EXPECT_STREQ(config.entries[1].sub_dir, "etc");
    EXPECT_STREQ(config.entries[1].file_cnf, "b.ini");
    EXPECT_STREQ(config.entries[2].file_cnf, "") << "no object reached entry 2";
}

TEST(ParseReplySections, FiftyOneConfigElementsFillEntriesZeroToFortyNine)
{
    ASSERT_EQ(Parse("{\"config\":{\"result\":\"0\",\"files\":[" + ConfigElements(51) + "]}}"), 1);
    for (int i = 0; i < kConfigEntryCount; ++i) {
        EXPECT_EQ(std::string(replyRecord.config.entries[i].file_cnf), "f" + std::to_string(i) + ".conf");
    }
    // The 51st element must not have overwritten the last slot.
    EXPECT_STREQ(replyRecord.config.entries[kConfigEntryCount - 1].v_cnf, "v49");
}

TEST(ParseReplySections, TwentyFiveCommandsFillEntriesZeroToNineteen)
{
    ASSERT_EQ(Parse("{\"command\":{\"result\":\"0\",\"list\":[" + CommandElements(25) + "]}}"), 1);
    for (int i = 0; i < kCommandEntryCount; ++i) {
        EXPECT_EQ(std::string(replyRecord.command.entries[i].cod_cmd), std::to_string(i));
        EXPECT_EQ(std::string(replyRecord.command.entries[i].v_cmd), "c" + std::to_string(i));
    }
}

// Each parse clears only what earlier walks could have written; the record
// must still come out byte for byte as if all of it had been cleared, or a
// shorter list would hand on entries, and long texts behind short ones, of
// the reply before.
TEST(ParseReplySections, ShorterReplyAfterFullListsLeavesNothingOfThem)
{
    std::string full = "{\"command\":{\"result\":\"7\",\"list\":[" + CommandElements(kCommandEntryCount) +
        "]},\"config\":{\"result\":\"9\",\"files\":[";
    for (int i = 0; i < kConfigEntryCount; ++i) {
        full += (i ? "," : "");
        full += "{\"v_cnf\":\"version-" + std::to_string(i) + "\",\"url_cnf\":\"http://h/" + std::string(200, 'u') +
            "\",\"file_cnf\":\"file-" + std::to_string(i) + ".conf\"}";
    }
    full += "]}}";
    ASSERT_LT(full.size(), kReplyBufferSize);
    ASSERT_EQ(Parse(full), 1);
    ASSERT_STREQ(replyRecord.config.entries[kConfigEntryCount - 1].file_cnf, "file-49.conf");

    ASSERT_EQ(Parse(R"({"config":{"files":[{"v_cnf":"1","url_cnf":"u","file_cnf":"a"}]}})"), 1);
    ReplyRecord expected;
    std::memset(&expected, 0, sizeof expected);
    std::strcpy(expected.config.entries[0].v_cnf, "1");
    std::strcpy(expected.config.entries[0].url_cnf, "u");
    std::strcpy(expected.config.entries[0].file_cnf, "a");
    EXPECT_EQ(std::memcmp(&replyRecord, &expected, sizeof expected), 0);
}

TEST(ParseReplySections, ObjectAsSectionValueIsCounted)
{
    // Outer object -> 1, the section's own object -> 2.
    ASSERT_EQ(Parse(R"({"config":{"file_cnf":"a.ovpn"}})"), 1);
    EXPECT_STREQ(replyRecord.config.entries[1].file_cnf, "");
    EXPECT_STREQ(replyRecord.config.entries[2].file_cnf, "a.ovpn");
}

TEST(ParseReplySections, ArrayAsSectionValueIsNotCounted)
{
    // Outer object -> 1, the array is only looked at, the element -> 2.
    ASSERT_EQ(Parse(R"({"config":[{"file_cnf":"a.ovpn"}]})"), 1);
    EXPECT_STREQ(replyRecord.config.entries[0].file_cnf, "");
    EXPECT_STREQ(replyRecord.config.entries[1].file_cnf, "");
    EXPECT_STREQ(replyRecord.config.entries[2].file_cnf, "a.ovpn");
}

TEST(ParseReplySections, EntryMembersInsideAnArrayAreDropped)
{
    ASSERT_EQ(Parse(R"({"command":{"result":"0","list":["cod_cmd","4","v_cmd","9"]}})"), 1);
    for (const CommandEntry& entry : replyRecord.command.entries) {
        EXPECT_STREQ(entry.cod_cmd, "");
        EXPECT_STREQ(entry.v_cmd, "");
    }
}

TEST(ParseReplySections, MemberWithObjectValueStoresNothingAndIsNotCounted)
{
    ASSERT_EQ(Parse(R"({"config":{"result":"0","files":[)"
                    R"({"v_cnf":{"file_cnf":"inner.conf"},"url_cnf":"u"}]}})"),
              1);
    const ConfigEntry& entry = replyRecord.config.entries[0];
    EXPECT_STREQ(entry.v_cnf, "");
    EXPECT_STREQ(entry.file_cnf, "inner.conf");
    EXPECT_STREQ(entry.url_cnf, "u");
    EXPECT_STREQ(replyRecord.config.entries[1].file_cnf, "");
}

TEST(ParseReplySections, StringValueNamingASectionSwitchesIt)
{
    ASSERT_EQ(Parse(R"({"x":"soft","v_sw":"9"})"), 1);
    EXPECT_STREQ(replyRecord.soft.v_sw, "9");

    // As the value of a recognised member it is only stored.
    ASSERT_EQ(Parse(R"({"stt":"soft","v_sw":"9"})"), 1);
    EXPECT_STREQ(replyRecord.status.stt, "soft");
    EXPECT_STREQ(replyRecord.soft.v_sw, "");
}

TEST(ParseReplySections, SeveralSectionsInOneReply)
{
    ASSERT_EQ(Parse(R"({"config":{"result":"0","l":[{"file_cnf":"a"}]},)"
                    R"("command":{"result":"1","l":[{"cod_cmd":"4","v_cmd":"v"}]},)"
                    R"("status":{"stt":"ativo"}})"),
              1);
    EXPECT_STREQ(replyRecord.config.entries[0].file_cnf, "a");
    EXPECT_EQ(replyRecord.command.result, 1);
    EXPECT_STREQ(replyRecord.command.entries[0].cod_cmd, "4");
    EXPECT_STREQ(replyRecord.status.stt, "ativo");
}

TEST(ParseReplyFailures, BrokenDocumentsKeepThePreviousRecord)
{
    const char* broken[] = {
        R"({"stt":"bloqueado")",             // object left open
        R"({"stt":"bloqueado"])",            // wrong closing bracket
        R"({"stt":"bloqueado"}})",           // closing bracket without container
        R"({"stt":"bloq)",                   // string without its closing quote
        R"({"stt":"blo\queado"})",           // escape that is not allowed
        "{\"stt\":\"bloqueado\",x\x7f}",     // byte 127 in a primitive
        "{\"stt\":\"bloqueado\",x\xc3\xa9}", // byte above 127 in a primitive
    };
    for (const char* doc : broken) {
        ASSERT_EQ(Parse(kFlatStatus), 1);
        EXPECT_EQ(Parse(doc), 0) << doc;
        EXPECT_STREQ(replyRecord.status.stt, "ativo") << doc;
        EXPECT_STREQ(replyRecord.status.msg, "Conta em dia") << doc;
    }
}

TEST(ParseReplyFailures, ErrorPageParsesAsAnEmptyReply)
{
    ASSERT_EQ(Parse(kFlatStatus), 1);
    EXPECT_EQ(Parse("<html><head><title>502 Bad Gateway</title></head>\r\n"
                    "<body><a href=\"/\">home</a></body></html>"),
              1);
    EXPECT_STREQ(replyRecord.status.stt, "");
    EXPECT_STREQ(replyRecord.soft.file_sw, "");
}

TEST(ParseReplyFailures, HighBytesInsideStringsAreText)
{
    ASSERT_EQ(Parse("{\"msg\":\"Conex\xe3o suspensa\"}"), 1);
    EXPECT_STREQ(replyRecord.status.msg, "Conex\xe3o suspensa");
}

TEST(ParseReplyFailures, MoreThanTheTokenLimitIsNotParsed)
{
    auto primitives = [](unsigned count) {
        std::string doc = "[";
        for (unsigned i = 0; i < count; ++i) {
            doc += i ? ",1" : "1";
        }
        return doc + "]";
    };
    ASSERT_EQ(Parse(kFlatStatus), 1);
    EXPECT_EQ(Parse(primitives(kReplyTokenCount)), 0) << "481 tokens";
    EXPECT_STREQ(replyRecord.status.stt, "ativo");
    EXPECT_EQ(Parse(primitives(kReplyTokenCount - 1)), 1) << "exactly 480 tokens";
    EXPECT_STREQ(replyRecord.status.stt, "");
}

TEST(ParseReplyFailures, EmptyReplyClearsEverything)
{
    ASSERT_EQ(Parse(kFlatStatus), 1);
    entryIndex = 7;
    EXPECT_EQ(Parse(""), 1);
    EXPECT_EQ(replyRecord.status.result, 0);
    EXPECT_STREQ(replyRecord.status.stt, "");
    EXPECT_EQ(entryIndex, 0);
    EXPECT_EQ(ParseReply(nullptr), 0);
}

TEST(ParseReplyFailures, NameWithoutValueEndsTheWalk)
{
    EXPECT_EQ(Parse(R"("stt")"), 1);
    EXPECT_STREQ(replyRecord.status.stt, "");
    EXPECT_EQ(Parse(R"("soft")"), 1);
    EXPECT_EQ(Parse(R"(["x","soft"])"), 1);
}

TEST(ParseReplyWhitespace, TabsAndLineFeedsAreIgnoredAndSpaceRunsShrink)
{
    ASSERT_EQ(Parse("{\n\t\"stt\" :\t\"ativo\",\r\n  \"msg\":\"linha 1\nlinha  2\r\nfim\"\n}"), 1);
    EXPECT_STREQ(replyRecord.status.stt, "ativo");
    EXPECT_STREQ(replyRecord.status.msg, "linha 1linha 2\rfim");
}

TEST(SqueezeWhitespace, KeepsTheLastSpaceOfARunAndCarriageReturns)
{
    char text[] = "a \t b  \r\n   c";
    // The space before the tab is followed by a tab as received, so it stays.
    EXPECT_EQ(SqueezeWhitespace(text), std::strlen("a  b \r c"));
    EXPECT_STREQ(text, "a  b \r c");
    EXPECT_EQ(SqueezeWhitespace(nullptr), 0u);
}

TEST(SqueezeWhitespace, LooksNoFurtherThanTheReplyBuffer)
{
    // No terminator anywhere in the buffer: nothing may be read or written
    // past it (the sanitizer build checks), and the whole text is one token.
    ResetReplyBuffer();
    std::memset(ReplyBuffer, 'a', kReplyBufferSize);
    EXPECT_EQ(SqueezeWhitespace(ReplyBuffer), kReplyBufferSize);
    std::memset(ReplyBuffer, 'a', kReplyBufferSize);
    ReplyBuffer[kReplyBufferSize - 1] = ' ';
    ReplyBuffer[kReplyBufferSize - 2] = ' ';
    EXPECT_EQ(SqueezeWhitespace(ReplyBuffer), kReplyBufferSize - 1);
    EXPECT_EQ(ReplyBuffer[kReplyBufferSize - 1], '\0');
    std::memset(ReplyBuffer, 'a', kReplyBufferSize);
    EXPECT_EQ(ParseReply(ReplyBuffer), 1);
}

} // namespace
