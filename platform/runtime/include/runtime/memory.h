// How the process takes memory from the system.
#pragma once

namespace rt {

// Every program calls this first thing:
// - Large blocks (4 MB and more, such as a big class family's member lists) come straight from
//   the system and go back to it when they are freed. Left to itself the allocator raises that
//   threshold once the first such block is freed; the next ones then come from the heap, between
//   the live nodes of the table's indexes, and stay resident after they are freed for as long as
//   the program runs.
// - Every thread allocates from the one heap. An index's nodes are made partly by the helper
//   thread that merges behind a load; from a heap of that thread's own they would be given back
//   and kept apart from the rest of the index.
void setAllocationPolicy();

}  // namespace rt
