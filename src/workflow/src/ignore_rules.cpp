// Reading the ignore file, and what its rules hide.
#include "workflow/ignore_rules.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "runtime/runtime.h"
#include "workflow/differences.h"

namespace workflow {
namespace {

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "type changed" is written "type-changed" in the file.
std::string hyphened(std::string_view words) {
  std::string out(words);
  std::replace(out.begin(), out.end(), ' ', '-');
  return out;
}

// The words a criterion accepts, as data: the value in the file and what it stands for.
template <class T>
struct Word {
  std::string file;
  T value;
};

std::vector<Word<std::string>> memberKindWords() { return {{"property", "Property"}, {"method", "Method"}}; }
std::vector<Word<std::string>> levelWords() { return {{"class", "Class"}, {"instance", "Instance"}}; }
std::vector<Word<ChangeKind>> changeWords() {
  std::vector<Word<ChangeKind>> out;
  for (ChangeKind kind : changeKinds()) out.push_back({hyphened(changeKindText(kind)), kind});
  return out;
}
std::vector<Word<Severity>> severityWords() {
  std::vector<Word<Severity>> out;
  for (Severity severity : kSeverities) out.push_back({std::string(severityText(severity)), severity});
  return out;
}

template <class T>
std::string choices(const std::vector<Word<T>>& words) {
  std::string out;
  for (const Word<T>& w : words) out += (out.empty() ? "" : ", ") + w.file;
  return out;
}

// Sets `target` from `value` when it is one of `words`; otherwise answers the complaint.
template <class T>
std::optional<std::string> pick(std::optional<T>& target, const std::string& key, const std::string& value,
                                const std::vector<Word<T>>& words) {
  if (target) return key + " is given twice";
  for (const Word<T>& w : words)
    if (lowered(value) == w.file) {
      target = w.value;
      return std::nullopt;
    }
  return "unknown " + key + " '" + value + "' (" + choices(words) + ")";
}

std::vector<std::string> tokensOf(std::string_view text) {
  std::istringstream in{std::string(text)};
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The line without its comment: `#` at the start or after a blank starts one.
std::string_view withoutComment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i)
    if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])))) return line.substr(0, i);
  return line;
}

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

bool hasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

// `rename Class.Old Class.New` or `rename OldClass NewClass`.
std::optional<std::string> parseRename(const std::vector<std::string>& tokens, AcceptedRename& out) {
  if (tokens.size() != 3) return "a rename names the old and the new name: rename CLASS.OLD CLASS.NEW or rename OLDCLASS NEWCLASS";
  const std::string& was = tokens[1];
  const std::string& now = tokens[2];
  if (hasWildcard(was) || hasWildcard(now)) return "a rename names one member or class, without * or ?";
  const auto wasDot = was.find('.'), nowDot = now.find('.');
  if ((wasDot == std::string::npos) != (nowDot == std::string::npos))
    return "a rename is of two members (CLASS.OLD CLASS.NEW) or of two classes (OLDCLASS NEWCLASS)";
  if (wasDot == std::string::npos) {
    out.oldName = was;
    out.newName = now;
  } else {
    out.className = was.substr(0, wasDot);
    out.oldName = was.substr(wasDot + 1);
    out.newName = now.substr(nowDot + 1);
    if (now.substr(0, nowDot) != out.className) return "a renamed member stays in its class: rename CLASS.OLD CLASS.NEW";
  }
  if (out.oldName.empty() || out.newName.empty() || out.oldName.find('.') != std::string::npos ||
      out.newName.find('.') != std::string::npos)
    return "a rename names one member or class";
  if (out.oldName == out.newName) return "the old and the new name are the same";
  return std::nullopt;
}

// `CLASS[.MEMBER] [kind=K] [level=L] [change=C] [severity=S]`.
std::optional<std::string> parseRule(const std::vector<std::string>& tokens, IgnoreRule& out) {
  const std::string& target = tokens.front();
  if (target.find('=') != std::string::npos) return "a rule starts with a class pattern, before '" + target + "'";
  const auto dot = target.find('.');
  out.classPattern = target.substr(0, dot);
  if (out.classPattern.empty()) return "the class pattern is empty";
  if (dot != std::string::npos) {
    out.memberPattern = target.substr(dot + 1);
    if (out.memberPattern->empty() || out.memberPattern->find('.') != std::string::npos)
      return "one member pattern after the class: CLASS.MEMBER";
  }
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const auto eq = tokens[i].find('=');
    if (eq == std::string::npos) return "unknown word '" + tokens[i] + "' (kind=, level=, change= or severity=)";
    const std::string key = lowered(tokens[i].substr(0, eq)), value = tokens[i].substr(eq + 1);
    std::optional<std::string> problem;
    if (key == "kind")
      problem = pick(out.memberKind, key, value, memberKindWords());
    else if (key == "level")
      problem = pick(out.level, key, value, levelWords());
    else if (key == "change")
      problem = pick(out.change, key, value, changeWords());
    else if (key == "severity")
      problem = pick(out.severity, key, value, severityWords());
    else
      problem = "unknown word '" + tokens[i] + "' (kind=, level=, change= or severity=)";
    if (problem) return problem;
  }
  return std::nullopt;
}

}  // namespace

bool IgnoreRule::hides(const ChangeEntry& c) const {
  const auto classes = c.classes();
  if (std::none_of(classes.begin(), classes.end(), [this](std::string_view name) { return wildcardMatch(classPattern, name); }))
    return false;
  if (memberPattern && (c.member.empty() || !wildcardMatch(*memberPattern, c.member))) return false;
  if (memberKind && c.memberKind != *memberKind) return false;
  if (level && c.level != *level) return false;
  if (change && c.kind != *change) return false;
  return !severity || c.severity == *severity;
}

bool IgnoreRule::hides(const RenameSuggestion& s) const {
  const bool member = s.kind == SuggestionKind::MemberRenamed;
  for (const std::string* name : {&s.oldName, &s.newName}) {
    ChangeEntry as;
    as.kind = ChangeKind::Renamed;
    as.severity = s.severity;
    as.className = member ? s.className : *name;
    as.member = member ? *name : std::string();
    as.memberKind = s.memberKind;
    as.level = s.level;
    if (hides(as)) return true;
  }
  return false;
}

IgnoreRules parseIgnoreRules(std::string_view text, std::string source) {
  IgnoreRules out;
  out.source = std::move(source);
  int number = 0;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = trimmed(withoutComment(text.substr(at, end - at)));
    ++number;
    at = end + 1;
    if (line.empty()) continue;
    const std::vector<std::string> tokens = tokensOf(line);
    std::optional<std::string> problem;
    if (lowered(tokens.front()) == "rename") {
      AcceptedRename rename;
      rename.line = number;
      if (!(problem = parseRename(tokens, rename))) out.renames.push_back(std::move(rename));
    } else {
      IgnoreRule rule;
      rule.line = number;
      rule.text = line;
      if (!(problem = parseRule(tokens, rule))) out.rules.push_back(std::move(rule));
    }
    if (problem) out.problems.push_back({number, *problem});
  }
  return out;
}

IgnoreRules readIgnoreRules(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) && !ec) return IgnoreRules{file.string(), {}, {}, {}};
  if (std::filesystem::is_directory(file, ec)) return IgnoreRules{file.string(), {}, {}, {{0, "is a folder, not a file"}}};
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) return IgnoreRules{file.string(), {}, {}, {{0, "cannot be read: " + std::string(std::strerror(errno))}}};
  return parseIgnoreRules(text.str(), file.string());
}

std::string problemText(const IgnoreRules& rules, const RuleProblem& problem) {
  return rules.source + (problem.line > 0 ? " line " + std::to_string(problem.line) : std::string()) + ": " +
         problem.message + (problem.line > 0 ? "; the line is not applied" : "; no rule is applied");
}

void applyIgnoreRules(ChangeList& list, const IgnoreRules& rules) {
  std::vector<long> hidden(rules.rules.size());
  // The first rule that hides an entry takes it.
  const auto hider = [&](const auto& entry) {
    for (std::size_t i = 0; i < rules.rules.size(); ++i)
      if (rules.rules[i].hides(entry)) {
        ++hidden[i];
        return true;
      }
    return false;
  };
  const auto sift = [&hider](auto& kept, auto& out) {
    std::remove_reference_t<decltype(kept)> stay;
    for (auto& entry : kept) (hider(entry) ? out : stay).push_back(std::move(entry));
    kept = std::move(stay);
  };
  sift(list.changes, list.hidden);
  sift(list.suggestions, list.hiddenSuggestions);
  list.counts = countChanges(list.changes);
  for (std::size_t i = 0; i < rules.rules.size(); ++i)
    list.rules.push_back({rules.rules[i].line, rules.rules[i].text, hidden[i]});
  std::stable_sort(list.rules.begin(), list.rules.end(),
                   [](const AppliedRule& a, const AppliedRule& b) { return a.line < b.line; });
}

OfferedRules offeredRules(const ChangeEntry& c) {
  OfferedRules out;
  if (!c.member.empty()) out.member = c.className + "." + c.member;
  out.wholeClass = c.className;
  out.kindInClass = c.className + " change=" + hyphened(changeKindText(c.kind));
  return out;
}

std::string acceptRenameRule(const RenameSuggestion& s) {
  if (s.kind == SuggestionKind::ClassRenamed) return "rename " + s.oldName + " " + s.newName;
  return "rename " + s.className + "." + s.oldName + " " + s.className + "." + s.newName;
}

bool appendIgnoreRule(const std::filesystem::path& file, const std::string& line) {
  RT_FRAME("IgnoreRules:Append");
  // Only a line the file reads back as the one rule meant is written: a name with a blank, a
  // line break or a '#' cannot be said in the grammar and would become another rule.
  const IgnoreRules check = parseIgnoreRules(line, file.string());
  if (line.find_first_of("\r\n") != std::string::npos || !check.problems.empty() ||
      check.rules.size() + check.renames.size() != 1 || (!check.rules.empty() && check.rules.front().text != line)) {
    auto e = rt::makeError(rt::EG_ARG, "IGNORE", "the rule \"" + line + "\" cannot be written in " + file.string() +
                                                     " as one line of its grammar; nothing was added",
                           "APPENDRULE", file.string());
    e->canDefault = true;
    (void)rt::raise(e);
    return false;
  }
  std::string existing;
  {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    existing = text.str();
  }
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (out) out << (existing.empty() || existing.back() == '\n' ? "" : "\n") << line << '\n';
  out.flush();
  if (out) return true;
  auto e = rt::makeError(rt::EG_WRITE, "IGNORE", "cannot add a rule to " + file.string() + ": " + std::strerror(errno),
                         "APPENDRULE", file.string());
  e->osCode = errno;
  e->canDefault = true;
  (void)rt::raise(e);
  return false;
}

}  // namespace workflow
