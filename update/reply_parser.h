// Reduces a server reply (a small JSON document) to the reply record.
#pragma once

#include <cstddef>

// In place over the NUL-terminated text, looking at no more than the reply
// buffer's size: removes tabs and line feeds, and shrinks each run of spaces
// to one. Returns the new length.
std::size_t SqueezeWhitespace(char* text);

// Squeezes `text` (changed in place), tokenizes it and, when that succeeds,
// clears the reply record and fills it from the document. Returns 1 when the
// document tokenized (whether or not anything was recognised), 0 for a null
// text or a tokenizer error; on 0 the record keeps the previous reply.
int ParseReply(char* text);
