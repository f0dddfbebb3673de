// Working out a compare's verdicts in memory.
//
// The compare visits every base row in order 1 (mpdms1: version, class, parent, kind, member,
// level), then every reference row that nothing marked yet; a visit seeks the other version's
// class, then the class under the same parent, then the member at the same level, then at either
// level, in order 1 when the parent was found and in order 2 (mpdms2: version, class, kind,
// member, level) otherwise, and writes its verdict on the row and on the counterpart it found.
// Index keys are the fields' stored bytes side by side, ordered byte by byte and then by record
// number, so the same look-ups run here over the two versions' rows sorted the same way, and the
// flags are kept per row instead of written.
#include "workflow/pair_verdicts.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace workflow {
namespace {

// Where each field lies in a row's stored bytes, laid out in order-1 key order, then the type and
// the family: class, parent, kind, member, level, type, family.
struct RawLayout {
  std::size_t className = 0, parent = 0, kind = 0, member = 0, level = 0, type = 0, family = 0;
  std::size_t parentAt() const { return className; }
  std::size_t memberKeyAt() const { return className + parent; }  // kind, member, level
  std::size_t levelAt() const { return className + parent + kind + member; }
  std::size_t typeAt() const { return levelAt() + level; }
  std::size_t familyAt() const { return typeAt() + type; }
  std::size_t keyLength() const { return typeAt(); }
  std::size_t rowLength() const { return familyAt() + family; }
};

constexpr model::Field kRawFields[] = {model::Field::CLASSNAME,  model::Field::PARENTNAME, model::Field::PROP_METHO,
                                        model::Field::ATTRIBUTE,  model::Field::INS_CLASS,  model::Field::TYPE,
                                        model::Field::FAMILYNAME};
// The words of a row, in the order of kRawFields.
constexpr std::string_view PairRow::*kWords[] = {&PairRow::className, &PairRow::parent, &PairRow::kind,
                                                 &PairRow::member,    &PairRow::level,  &PairRow::type,
                                                 &PairRow::family};

// The rows of one version: their stored bytes side by side, and their places in order 1 and,
// class by class, in order 2.
class VersionRows {
 public:
  explicit VersionRows(const RawLayout& layout) : layout_(layout) {}

  void reserve(std::size_t rows) {
    bytes_.reserve(bytes_.size() + rows * layout_.rowLength());
    recnos_.reserve(rows);
  }
  // Adds the next row read: its local index is the count of rows before it.
  void add(std::string_view bytes, std::uint32_t recno) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    recnos_.push_back(recno);
  }
  // Puts the rows into order 1 (key, then record number; rows read from order 1 are in it
  // already) and groups them by class.
  void index() {
    order1_.resize(recnos_.size());
    for (std::size_t i = 0; i < order1_.size(); ++i) order1_[i] = static_cast<int>(i);
    const auto before = [this](int a, int b) {
      const int c = key(static_cast<std::size_t>(a)).compare(key(static_cast<std::size_t>(b)));
      return c != 0 ? c < 0 : recnos_[static_cast<std::size_t>(a)] < recnos_[static_cast<std::size_t>(b)];
    };
    if (!std::is_sorted(order1_.begin(), order1_.end(), before)) std::sort(order1_.begin(), order1_.end(), before);
    for (std::size_t i = 0; i < order1_.size();) {
      std::size_t end = i + 1;
      while (end < order1_.size() && className(order1_[end]) == className(order1_[i])) ++end;
      classes_.emplace(className(order1_[i]), Group{i, end, {}});
      i = end;
    }
  }
  // The local indexes in order 1.
  const std::vector<int>& order1() const { return order1_; }
  // Gives each local index its row index within the pair.
  void assignRows(std::vector<int> rows) { rows_ = std::move(rows); }

  std::string_view bytes(std::size_t local) const {
    return std::string_view(bytes_.data() + local * layout_.rowLength(), layout_.rowLength());
  }
  std::string_view key(std::size_t local) const { return bytes(local).substr(0, layout_.keyLength()); }
  std::string_view className(std::size_t local) const { return bytes(local).substr(0, layout_.className); }
  int row(std::size_t local) const { return rows_[local]; }
  // The stored bytes of every row, handed over once the rows are read (their place in memory
  // stays as long as the vector lives).
  std::vector<char> takeBytes() { return std::move(bytes_); }

  // What the look-ups of a row with stored bytes `probe` find here: whether the class exists, and
  // under the same parent, and the counterpart (a local index, -1 for none).
  struct Found {
    bool classFound = false;
    bool parentOk = false;
    int counterpart = -1;
  };
  Found lookUp(std::string_view probe) {
    Found found;
    auto group = classes_.find(probe.substr(0, layout_.className));
    if (group == classes_.end()) return found;
    found.classFound = true;
    Group& g = group->second;
    const std::string_view parentKey = probe.substr(0, layout_.memberKeyAt());
    found.parentOk = firstInOrder1(g, parentKey) >= 0;
    const std::string_view exact = probe.substr(0, layout_.keyLength());
    if (found.parentOk) {
      found.counterpart = firstInOrder1(g, exact);
      if (found.counterpart < 0) found.counterpart = firstInOrder1(g, exact.substr(0, layout_.levelAt()));
    } else {
      const std::string_view member = exact.substr(layout_.memberKeyAt());
      found.counterpart = firstInOrder2(g, member);
      if (found.counterpart < 0) found.counterpart = firstInOrder2(g, member.substr(0, member.size() - layout_.level));
    }
    return found;
  }

 private:
  struct Group {
    std::size_t begin = 0, end = 0;  // within order1_
    std::vector<int> order2;         // the group's rows in order 2, sorted when first needed
  };

  // The first row of the group, in order 1, whose key begins with `prefix`.
  int firstInOrder1(const Group& g, std::string_view prefix) const {
    const auto from = order1_.begin() + static_cast<long>(g.begin);
    const auto to = order1_.begin() + static_cast<long>(g.end);
    const auto at = std::lower_bound(from, to, prefix, [this, &prefix](int local, std::string_view) {
      return key(static_cast<std::size_t>(local)).substr(0, prefix.size()) < prefix;
    });
    return at != to && key(static_cast<std::size_t>(*at)).starts_with(prefix) ? *at : -1;
  }
  std::string_view memberKey(int local) const {
    return key(static_cast<std::size_t>(local)).substr(layout_.memberKeyAt());
  }
  // The first row of the group, in order 2, whose kind, member and level begin with `prefix`.
  int firstInOrder2(Group& g, std::string_view prefix) const {
    if (g.order2.empty()) {
      g.order2.assign(order1_.begin() + static_cast<long>(g.begin), order1_.begin() + static_cast<long>(g.end));
      std::sort(g.order2.begin(), g.order2.end(), [this](int a, int b) {
        const int c = memberKey(a).compare(memberKey(b));
        return c != 0 ? c < 0 : recnos_[static_cast<std::size_t>(a)] < recnos_[static_cast<std::size_t>(b)];
      });
    }
    const auto at = std::lower_bound(g.order2.begin(), g.order2.end(), prefix, [this, &prefix](int local, std::string_view) {
      return memberKey(local).substr(0, prefix.size()) < prefix;
    });
    return at != g.order2.end() && memberKey(*at).starts_with(prefix) ? *at : -1;
  }

  RawLayout layout_;
  std::vector<char> bytes_;
  std::vector<std::uint32_t> recnos_;
  std::vector<int> rows_;    // local index -> the pair's row index
  std::vector<int> order1_;  // local indexes in order 1
  std::unordered_map<std::string_view, Group> classes_;
};

bool isAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string_view withoutTrailingBlanks(std::string_view text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

RowFlags storedFlags(model::Mpdms& table) {
  using model::Field;
  return {table.flag(Field::NO_MATCH), table.flag(Field::ALL_OK),  table.flag(Field::TYPEPROBLM),
          table.flag(Field::LEVELPROB), table.flag(Field::COMPARED), table.flag(Field::PARENTOK),
          table.flag(Field::CLASSFOUND)};
}

// Runs the two passes over rows read into `out`, keeping the flags in the rows.
class PairCompare {
 public:
  // `local` gives each of the pair's rows its local index within its version.
  PairCompare(PairVerdicts& out, VersionRows& base, VersionRows& reference, const RawLayout& layout,
              std::vector<std::size_t> local)
      : out_(out), base_(base), reference_(reference), layout_(layout), local_(std::move(local)) {}

  // The pair's rows lie in order 1, the base rows first.
  void run() {
    for (std::size_t i = 0; i < out_.baseRows; ++i) visit(static_cast<int>(i), base_, reference_);
    for (std::size_t i = out_.baseRows; i < out_.rows.size(); ++i)
      if (!out_.rows[i].flags.compared) visit(static_cast<int>(i), reference_, base_);
  }

 private:
  PairRow& row(int i) { return out_.rows[static_cast<std::size_t>(i)]; }

  void visit(int i, VersionRows& own, VersionRows& other) {
    const std::string_view mine = own.bytes(local_[static_cast<std::size_t>(i)]);
    const VersionRows::Found found = other.lookUp(mine);
    if (!found.classFound) return missing(i, false, false);
    if (found.counterpart < 0) return missing(i, found.parentOk, true);
    const std::string_view theirs = other.bytes(static_cast<std::size_t>(found.counterpart));
    const auto field = [](std::string_view bytes, std::size_t at, std::size_t width) { return bytes.substr(at, width); };
    RowFlags v;
    v.parentOk = field(theirs, layout_.parentAt(), layout_.parent) == field(mine, layout_.parentAt(), layout_.parent);
    v.levelProblem = field(theirs, layout_.levelAt(), layout_.level) != field(mine, layout_.levelAt(), layout_.level);
    v.typeProblem = field(theirs, layout_.typeAt(), layout_.type) != field(mine, layout_.typeAt(), layout_.type);
    v.allOk = !v.levelProblem && !v.typeProblem && v.parentOk;
    v.compared = true;
    const int c = other.row(static_cast<std::size_t>(found.counterpart));
    row(c).flags = v;
    row(c).counterpart = i;
    row(i).flags = v;
    row(i).counterpart = c;
  }

  // A row without counterpart; its type and level flags stay as they were.
  void missing(int i, bool parentOk, bool classFound) {
    RowFlags& f = row(i).flags;
    f.allOk = false;
    f.noMatch = true;
    f.compared = true;
    f.parentOk = parentOk;
    f.classFound = classFound;
    row(i).counterpart = -1;
  }

  PairVerdicts& out_;
  VersionRows& base_;
  VersionRows& reference_;
  RawLayout layout_;
  std::vector<std::size_t> local_;
};

std::string squeezed(std::string_view expression) {
  std::string out;
  for (char c : expression)
    if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// True when order 1 keys every row as the table's descriptor says: then a scan of it gives a
// version's rows in order 1 without reading the others.
bool orderOneAsDescribed(const model::Mpdms& t) {
  const std::vector<model::OrderDesc>& described = model::indexList().front().orders;
  return t.orderCount() >= 1 && !described.empty() && t.orderFor(1).empty() &&
         squeezed(t.orderKey(1)) == squeezed(described.front().keyExpr);
}

// The records of a version (stored form) in order 1.
std::vector<std::uint32_t> recordsInOrderOne(model::Mpdms& t, const std::string& version) {
  std::vector<std::uint32_t> out;
  t.scanOrder(1, version, [&](std::string_view key, std::uint32_t recno) {
    if (!key.starts_with(version)) return false;
    out.push_back(recno);
    return true;
  });
  return out;
}

std::optional<std::string> storedVersion(const model::Mpdms& t, std::string_view version, std::size_t width) {
  std::optional<std::string> stored = t.storedForm(version);
  if (stored && stored->size() != width) return std::nullopt;
  return stored;
}

}  // namespace

std::string kindWord(std::string_view code) {
  if (code == "P") return "Property";
  if (code == "M") return "Method";
  return "Class";
}

std::string levelWord(std::string_view code) {
  if (code == "C") return "Class";
  if (code == "I") return "Instance";
  return {};
}

namespace {

// The stored bytes of each selected name without trailing blanks; a name the code page cannot
// hold is in no row.
std::unordered_set<std::string> storedNames(const model::Mpdms& table, const std::unordered_set<std::string>& names) {
  std::unordered_set<std::string> out;
  for (const std::string& name : names)
    if (const std::optional<std::string> stored = table.storedForm(name)) out.emplace(withoutTrailingBlanks(*stored));
  return out;
}

// The verdicts of the pair's rows that `selection` keeps (every row without one).
PairVerdicts readPair(model::Mpdms& table, std::string_view base, std::string_view reference, FlagStart start,
                      const RowSelection* selection) {
  using model::Field;
  PairVerdicts out;
  out.base = std::string(base);
  out.reference = std::string(reference);
  if (!table.used()) return out;

  std::size_t widths[std::size(kRawFields)];
  for (std::size_t i = 0; i < std::size(kRawFields); ++i) widths[i] = table.storedWidth(kRawFields[i]);
  const std::size_t versionWidth = table.storedWidth(Field::MODELVERS);
  if (versionWidth == 0 || std::any_of(std::begin(widths), std::end(widths), [](std::size_t w) { return w == 0; }))
    return out;
  const RawLayout layout{widths[0], widths[1], widths[2], widths[3], widths[4], widths[5], widths[6]};
  const std::optional<std::string> storedBase = storedVersion(table, base, versionWidth);
  const std::optional<std::string> storedReference = storedVersion(table, reference, versionWidth);

  // Both versions' rows: from order 1 when it keys as described, else in record order.
  VersionRows rows[2] = {VersionRows(layout), VersionRows(layout)};
  std::vector<std::size_t> readAt[2];  // a version's local index -> its place in out.rows as read
  std::string bytes;
  // A word whose stored bytes are all ASCII is those bytes, seen in place once every row is read
  // (left unset until then); any other is the text the table converts, kept in out.texts.
  std::unordered_set<std::string> classes, members;
  if (selection) {
    classes = storedNames(table, selection->classes);
    members = storedNames(table, selection->members);
  }
  // With a selection: class rows, the selected classes' rows and the rows of selected members.
  const auto kept = [&] {
    if (!selection) return true;
    const std::string_view member = withoutTrailingBlanks(table.storedField(Field::ATTRIBUTE));
    return member.empty() || members.count(std::string(member)) > 0 ||
           classes.count(std::string(withoutTrailingBlanks(table.storedField(Field::CLASSNAME)))) > 0;
  };
  const auto readCurrent = [&](int side) {
    if (!kept()) return;
    bytes.clear();
    PairRow r;
    for (std::size_t i = 0; i < std::size(kRawFields); ++i) {
      const std::string_view raw = table.storedField(kRawFields[i]);
      bytes.append(raw);
      if (!isAscii(raw))
        r.*kWords[i] = withoutTrailingBlanks(out.texts.emplace_back(table.str(kRawFields[i])));
    }
    r.recno = table.recNo();
    r.side = side == 0 ? Side::Base : Side::Reference;
    if (start == FlagStart::AsStored) r.flags = storedFlags(table);
    rows[side].add(bytes, r.recno);
    readAt[side].push_back(out.rows.size());
    out.rows.push_back(r);
  };
  if (orderOneAsDescribed(table)) {
    std::vector<std::uint32_t> records[2];
    for (int side = 0; side < 2; ++side) {
      const std::optional<std::string>& version = side == 0 ? storedBase : storedReference;
      if (version) records[side] = recordsInOrderOne(table, *version);
      rows[side].reserve(records[side].size());
    }
    out.rows.reserve(records[0].size() + records[1].size());
    for (int side = 0; side < 2; ++side) {
      for (std::uint32_t recno : records[side]) {
        table.goTo(recno);
        readCurrent(side);
      }
    }
  } else {
    table.setOrder(0);
    for (table.goTop(); !table.eof(); table.skip()) {
      const std::string_view version = table.storedField(Field::MODELVERS);
      if (storedBase && version == *storedBase) readCurrent(0);
      else if (storedReference && version == *storedReference) readCurrent(1);
    }
  }

  // The ASCII words, seen in the stored bytes where they stay.
  for (int side = 0; side < 2; ++side) {
    for (std::size_t local = 0; local < readAt[side].size(); ++local) {
      PairRow& r = out.rows[readAt[side][local]];
      const std::string_view stored = rows[side].bytes(local);
      std::size_t at = 0;
      for (std::size_t i = 0; i < std::size(kRawFields); ++i) {
        if (!(r.*kWords[i]).data()) r.*kWords[i] = withoutTrailingBlanks(stored.substr(at, widths[i]));
        at += widths[i];
      }
    }
  }

  // The pair's rows: base then reference, each in order 1. Rows read from order 1 are there
  // already; rows read in record order are moved there.
  std::vector<std::size_t> localOfRow(out.rows.size()), finalOf(out.rows.size());
  std::size_t next = 0;
  for (int side = 0; side < 2; ++side) {
    rows[side].index();
    std::vector<int> rowOfLocal(readAt[side].size());
    for (int local : rows[side].order1()) {
      const auto l = static_cast<std::size_t>(local);
      rowOfLocal[l] = static_cast<int>(next);
      localOfRow[next] = l;
      finalOf[readAt[side][l]] = next++;
    }
    rows[side].assignRows(std::move(rowOfLocal));
    if (side == 0) out.baseRows = next;
  }
  bool inPlace = true;
  for (std::size_t i = 0; i < finalOf.size() && inPlace; ++i) inPlace = finalOf[i] == i;
  if (!inPlace) {
    std::vector<PairRow> ordered(out.rows.size());
    for (std::size_t i = 0; i < finalOf.size(); ++i) ordered[finalOf[i]] = std::move(out.rows[i]);
    out.rows = std::move(ordered);
  }

  PairCompare(out, rows[0], rows[1], layout, std::move(localOfRow)).run();
  for (VersionRows& version : rows) out.storedBytes.push_back(version.takeBytes());
  if (table.orderCount() > 0) table.setOrder(1);
  return out;
}

}  // namespace

PairVerdicts computePairVerdicts(model::Mpdms& table, std::string_view base, std::string_view reference,
                                 FlagStart start) {
  RT_FRAME("PairVerdicts:Compute");
  return readPair(table, base, reference, start, nullptr);
}

std::vector<PairVerdicts> computeChainVerdicts(model::Mpdms& table, const std::vector<std::string>& versions,
                                               const RowSelection* selection) {
  RT_FRAME("PairVerdicts:Chain");
  // Each pair reads its two versions (through order 1 when it keys as described, so without
  // visiting the other versions' rows).
  std::vector<PairVerdicts> out;
  for (std::size_t i = 0; i + 1 < versions.size(); ++i)
    out.push_back(readPair(table, versions[i], versions[i + 1], FlagStart::Reset, selection));
  return out;
}

}  // namespace workflow
