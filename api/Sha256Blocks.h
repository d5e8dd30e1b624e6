// SHA-256's compression function on the processor's SHA extensions, for the
// digest of downloads: the system's provider is far slower under some
// Windows implementations and would halve a verified download's throughput.
#pragma once

#include <cstddef>
#include <cstdint>

// True when this processor has the SHA, SSSE3 and SSE4.1 instructions the
// compression below needs.
bool ProcessorHasShaExtensions();

// Runs `blocks` 64-byte blocks through the compression function, updating
// `state` (the eight working words, in their usual order). Only when
// ProcessorHasShaExtensions() holds.
void CompressSha256Blocks(std::uint32_t state[8], const unsigned char* data, std::size_t blocks);
