// Byte layout of the two files the driver reads and writes: the dBASE III table and the compact
// compound index. docs/formats/dbf.md and docs/formats/cdx.md describe the same offsets.
#pragma once
#include <cstdint>
#include <cstring>

namespace rdd::fmt {

// ---- table (.dbf) ----
inline constexpr std::uint8_t kVersionDbase3 = 0x03;
inline constexpr std::uint8_t kVersionDbase3Memo = 0x83;
inline constexpr int kFileHeaderSize = 32;
inline constexpr int kFieldDescSize = 32;
inline constexpr std::uint8_t kHeaderTerminator = 0x0D;
inline constexpr std::uint8_t kEofMarker = 0x1A;
inline constexpr char kLiveFlag = ' ';
inline constexpr char kDeletedFlag = '*';
// File header offsets.
inline constexpr int kHdrVersion = 0, kHdrYear = 1, kHdrMonth = 2, kHdrDay = 3, kHdrRecCount = 4,
                     kHdrHeaderLen = 8, kHdrRecordLen = 10, kHdrFlags = 28, kHdrCodePage = 29;
inline constexpr std::uint8_t kFlagStructuralIndex = 0x01;
// Language-driver bytes (offset 29): the driver writes kCodePageWindows1252 and reads every byte
// of the dBASE table (codepage.cpp); a table declaring none is read as Windows-1252.
inline constexpr std::uint8_t kCodePageWindows1252 = 0x03;
inline constexpr std::uint8_t kLangNone = 0x00;
// Field descriptor offsets.
inline constexpr int kFldName = 0, kFldNameSize = 11, kFldType = 11, kFldDisplacement = 12,
                     kFldLength = 16, kFldDecimals = 17;
inline constexpr int kMaxFields = 128;
inline constexpr int kMaxRecordLen = 4000;
inline constexpr int kMaxCharWidth = 254;
// Lock bytes, one byte each, beyond any real data. The header byte follows the widespread
// "record 0 at 2^31-2" convention; the open byte just above it tells shared from exclusive users.
inline constexpr std::uint64_t kHeaderLockOffset = 0x7FFFFFFEull;
inline constexpr std::uint64_t kOpenLockOffset = 0x7FFFFFFFull;
// The most bytes a table file holds, its end mark included: its data ends before the lock bytes.
inline constexpr std::uint64_t kMaxTableBytes = kHeaderLockOffset;

// ---- compound index (.cdx) ----
inline constexpr int kPageSize = 512;
inline constexpr int kTreeHeaderSize = 1024;
inline constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;
// Page offsets are 32 bits: every page of an index file lies within its first 4 GiB.
inline constexpr std::uint64_t kMaxIndexBytes = 0x100000000ull;
// Tree header offsets.
inline constexpr int kThRoot = 0, kThFreeList = 4, kThCounter = 8, kThKeyLen = 12, kThOptions = 14,
                     kThSignature = 15, kThOrder = 502, kThTotalExprLen = 504, kThForLen = 506,
                     kThKeyExprLen = 510, kThPool = 512, kPoolSize = 512;
inline constexpr std::uint8_t kOptUnique = 0x01, kOptFor = 0x08, kOptCompact = 0x20,
                              kOptCompound = 0x40, kOptStructural = 0x80;
inline constexpr std::uint8_t kTagOptions = kOptCompact | kOptCompound;                    // 0x60
inline constexpr std::uint8_t kDirectoryOptions = kOptCompact | kOptCompound | kOptStructural;  // 0xE0
inline constexpr std::uint8_t kSignature = 0x01;
// Node header offsets and attributes.
inline constexpr int kNdAttr = 0, kNdCount = 2, kNdLeft = 4, kNdRight = 8;
inline constexpr std::uint16_t kAttrRoot = 1, kAttrLeaf = 2;
inline constexpr int kInteriorStart = 12, kInteriorPayload = 500;
// Leaf node offsets.
inline constexpr int kLfFree = 12, kLfRecMask = 14, kLfDupMask = 18, kLfTrailMask = 19, kLfRecBits = 20,
                     kLfDupBits = 21, kLfTrailBits = 22, kLfEntryBytes = 23, kLfEntriesStart = 24,
                     kLfPayload = 488;
inline constexpr int kTagNameLen = 10;
// The driver's stamp in the reserved bytes 16-501 of the directory header (zeros for others):
// the table file's size, modification time and hash (8 bytes each), magic, copy of the change
// counter, table record count the trees cover, openers with unwritten changes. See cdx_file.h
// (CdxStamp).
inline constexpr int kStTableSize = 448, kStTableTime = 456, kStTableHash = 464, kStMagic = 472, kStCounter = 476,
                     kStRecCount = 480, kStChanging = 484;
inline constexpr char kStampMagic[4] = {'D', 'S', 'T', '1'};
// In place of kStampMagic while an image is being written over the one before it: the trees may
// be half old, half new. Whoever finds it (and cannot wait for the writer) builds the orders from
// the records.
inline constexpr char kBeingWrittenMagic[4] = {'D', 'S', 'T', 'W'};
// Lock byte of the index file held shared by every opener with unwritten changes; a test for an
// exclusive lock there tells whether any such opener is still alive.
inline constexpr std::uint64_t kChangingLockOffset = 0x7FFFFFFDull;
inline constexpr int kMaxKeyLen = 240;

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint32_t be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
inline void putLe16(std::uint8_t* p, std::uint32_t v) { p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; }
inline void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}
inline std::uint64_t le64(const std::uint8_t* p) { return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32; }
inline void putLe64(std::uint8_t* p, std::uint64_t v) {
  putLe32(p, static_cast<std::uint32_t>(v));
  putLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void putBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (24 - 8 * i)) & 0xFF;
}

}  // namespace rdd::fmt
