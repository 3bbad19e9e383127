#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sorrelctl {

COptions::COptions(const std::string& command, const std::vector<std::string>& args,
                   const std::vector<OptionSpec>& specs)
    : m_Command(command) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      m_Help = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
      m_Operands.push_back(arg);
      continue;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs) {
      if (arg == s.name) spec = &s;
    }
    if (spec == nullptr) throw CUsageError(command + ": unknown option " + arg);
    if (m_Values.count(arg) != 0 && !spec->repeated) throw CUsageError(command + ": " + arg + " given twice");
    std::vector<std::string>& values = m_Values[arg];
    m_Given.push_back({arg});
    for (int v = 0; v < spec->values; ++v) {
      if (++i >= args.size()) {
        throw CUsageError(command + ": " + arg + " needs " + std::string(spec->metavar));
      }
      values.push_back(args[i]);
      m_Given.back().push_back(args[i]);
    }
  }
}

void COptions::ExpectOperands(size_t count, const char* what) const {
  if (m_Operands.size() < count) throw CUsageError(m_Command + ": missing " + what);
  if (m_Operands.size() > count) throw CUsageError(m_Command + ": unexpected argument " + m_Operands[count]);
}

const std::vector<std::string>& COptions::Values(const std::string& name) const {
  static const std::vector<std::string> NONE;
  auto it = m_Values.find(name);
  return it == m_Values.end() ? NONE : it->second;
}

std::vector<std::string> COptions::OptionsWithout(const std::vector<std::string>& names) const {
  std::vector<std::string> kept;
  for (const std::vector<std::string>& given : m_Given) {
    if (std::find(names.begin(), names.end(), given.front()) == names.end()) {
      kept.insert(kept.end(), given.begin(), given.end());
    }
  }
  return kept;
}

std::optional<int> COptions::Number(const std::string& name, int low, int high) const {
  if (!Has(name)) return std::nullopt;
  return ParseNumber(Values(name).at(0), low, high, m_Command + ": " + name);
}

std::vector<std::string> COptions::List(const std::string& name) const {
  if (!Has(name)) return {};
  const std::string& text = Values(name).at(0);
  std::vector<std::string> items;
  for (size_t begin = 0;;) {
    const size_t end = std::min(text.find(',', begin), text.size());
    items.push_back(text.substr(begin, end - begin));
    if (items.back().empty()) throw CUsageError(m_Command + ": " + name + " takes names separated by commas, not '" + text + "'");
    if (end == text.size()) return items;
    begin = end + 1;
  }
}

std::optional<double> COptions::Seconds(const std::string& name) const {
  if (!Has(name)) return std::nullopt;
  const std::string& text = Values(name).at(0);
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value) || value <= 0) {
    throw CUsageError(m_Command + ": " + name + " takes a number of seconds above 0, not '" + text + "'");
  }
  return value;
}

int ParseNumber(const std::string& text, int low, int high, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0) throw CUsageError(what + " takes a whole number, not '" + text + "'");
  if (value < low || value > high) {
    throw CUsageError(what + " takes " + std::to_string(low) + " to " + std::to_string(high) + ", not " + text);
  }
  return static_cast<int>(value);
}

}  // namespace sorrelctl
