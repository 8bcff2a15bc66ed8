// Blocks that file and transfer loops read into, kept for the thread's life.
#pragma once

#include <cstddef>
#include <vector>

// A block of at least size bytes that stays with the calling thread, so that a
// loop run once per file does not allocate it every time: under Wine each
// fresh allocation of this size maps and zeroes new pages and gives them back
// when freed, which costs more than checksumming a small file. Each Use (a tag
// type of the calling loop) has its own block, so loops that may run inside
// one another never share one. Not for a loop that may call itself.
template <class Use>
unsigned char* ThreadBuffer(size_t size)
{
    thread_local std::vector<unsigned char> block;
    if (block.size() < size) block.resize(size);
    return block.data();
}
