// ParseReply against jsmn's tokenising alone, on the same replies. Both work
// on a fresh copy of the reply each time (the parser squeezes its text in
// place), so the ratio is what the walk and the record cost on top of the
// tokenizer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#define JSMN_STATIC
#include <jsmn.h>

#include "ferolin_limits.h"
#include "reply_parser.h"

namespace {

std::string StatusReply()
{
    return "{\"result\":\"0\",\"v_stt\":\"3\",\"stt\":\"ativo\",\"msg\":\"Conta "
           "ativa\",\"int\":\"180\",\"per\":\"30\"}";
}

// The longest list a reply may carry within its tokens: configuration entries
// of five members each.
std::string ConfigListReply()
{
    std::string reply = "{\"config\":{\"result\":\"0\",\"files\":[";
    for (int i = 0; i < 40; ++i) {
        if (i > 0)
            reply += ",";
        reply += "{\"v_cnf\":\"" + std::to_string(i) +
            "\",\"is_cnf\":\"0\",\"url_cnf\":\"http://127.0.0.1:5017/rules/r" + std::to_string(i) +
            ".txt\",\"sub_dir\":\"rules\",\"file_cnf\":\"r" + std::to_string(i) + ".txt\"}";
    }
    return reply + "]}}";
}

template <typename Work>
void RunOnCopies(benchmark::State& state, const std::string& reply, Work work)
{
    static char text[kReplyBufferSize];
    for (auto _ : state) {
        std::memcpy(text, reply.c_str(), reply.size() + 1);
        benchmark::DoNotOptimize(work(text, reply.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(reply.size()));
}

int TokeniseOnly(char* text, std::size_t length)
{
    static jsmntok_t tokens[kReplyTokenCount];
    jsmn_parser parser;
    jsmn_init(&parser);
    return jsmn_parse(&parser, text, length, tokens, kReplyTokenCount);
}

int Parse(char* text, std::size_t) { return ParseReply(text); }
// The parser's first step alone, to tell how its cost splits.
std::size_t Squeeze(char* text, std::size_t) { return SqueezeWhitespace(text); }

void BM_JsmnStatus(benchmark::State& state) { RunOnCopies(state, StatusReply(), TokeniseOnly); }
void BM_ParseStatus(benchmark::State& state) { RunOnCopies(state, StatusReply(), Parse); }
void BM_SqueezeStatus(benchmark::State& state) { RunOnCopies(state, StatusReply(), Squeeze); }
void BM_SqueezeConfigList(benchmark::State& state) { RunOnCopies(state, ConfigListReply(), Squeeze); }
void BM_JsmnConfigList(benchmark::State& state) { RunOnCopies(state, ConfigListReply(), TokeniseOnly); }
void BM_ParseConfigList(benchmark::State& state) { RunOnCopies(state, ConfigListReply(), Parse); }

} // namespace

BENCHMARK(BM_JsmnStatus);
BENCHMARK(BM_ParseStatus);
BENCHMARK(BM_SqueezeStatus);
BENCHMARK(BM_JsmnConfigList);
BENCHMARK(BM_ParseConfigList);
BENCHMARK(BM_SqueezeConfigList);
BENCHMARK_MAIN();
