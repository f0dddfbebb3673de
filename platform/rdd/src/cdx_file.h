// Reading and writing a whole compound index image. A file holds a directory tree (tag names
// -> tag header offsets) and one compact B-tree per tag. Reading validates every page it visits
// (alignment, bounds, node layout, key order, loops); writing lays out the trees bottom-up from
// sorted entries.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "rdd/env.h"

namespace rdd {

struct TagImage {
  std::string name;     // as the directory stores it: upper case, no blanks
  std::string keyExpr;
  std::string forExpr;
  int keyLen = 0;
  bool unique = false;
  std::vector<char> flat;  // entries, each keyLen key bytes + 4-byte big-endian record number
  std::size_t count = 0;
};

// Limits for writing; zero means "as many as fit in a 512-byte node".
struct NodeLimits {
  int maxLeafKeys = 0;
  int maxInteriorKeys = 0;
};

struct CdxImage {
  std::vector<TagImage> tags;  // in header-offset order, which is creation order
  std::uint32_t counter = 0;   // header bytes 8-11
  std::uint64_t regionStart = 0;  // first page of the trees (the directory root)
};

// Reads the whole file. `maxRecno` bounds record numbers found in leaves.
Status readCdx(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out);

// Reads only the change counter (bytes 8-11 of the file header).
Status readCdxCounter(File& file, std::uint32_t* counter);

// Encodes the trees for placement at `base` (a multiple of 512, >= 1024) and the 1024-byte file
// header that points at them. `maxRecno` sizes the record-number bits of the leaves.
struct TagOut {
  std::string name;
  std::string keyExpr, forExpr;
  int keyLen = 0;
  bool unique = false;
  std::vector<const char*> entries;  // in key order, each keyLen key bytes + 4-byte big-endian recno
};
struct EncodedCdx {
  std::vector<std::uint8_t> header;  // bytes 0..1023
  std::vector<std::uint8_t> region;  // bytes base..base+size
};
EncodedCdx encodeCdx(const std::vector<const TagOut*>& tags, std::uint64_t base, std::uint32_t counter,
                     std::uint32_t maxRecno, const NodeLimits& limits);

// A deterministic text dump of every tree of the file, page by page.
std::string dumpCdx(File& file, const std::string& name);

}  // namespace rdd
