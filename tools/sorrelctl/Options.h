#pragma once
// A command's arguments: its operands in order and its options, each given at most once (or
// again, where its spec says so) and each taking a fixed number of values. Anything else is
// a usage error, said in one line.

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sorrelctl {

// A command line the command cannot take; the text is the one line the tool prints.
class CUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  const char* name;    // "--rate"
  int values;          // how many values follow it
  const char* metavar;  // "N", "SLM.bmp SYS.bmp"; empty for a flag
  const char* help;
  bool repeated = false;  // may be given again; Values then holds each one's values in turn
};

class COptions {
 public:
  // Throws CUsageError for an unknown option, one given twice or one short of its values.
  // "--help" anywhere asks for help instead.
  COptions(const std::string& command, const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

  bool HelpAsked() const { return m_Help; }
  const std::vector<std::string>& Operands() const { return m_Operands; }
  // Exactly count operands, or a usage error naming what is expected.
  void ExpectOperands(size_t count, const char* what) const;

  bool Has(const std::string& name) const { return m_Values.count(name) != 0; }
  const std::vector<std::string>& Values(const std::string& name) const;
  // The options as given, each followed by its values, but for those named: the command line
  // of the same command with those left out.
  std::vector<std::string> OptionsWithout(const std::vector<std::string>& names) const;
  // The option's value as a whole number within low..high; nothing when it was not given.
  std::optional<int> Number(const std::string& name, int low, int high) const;
  // The option's value split at its commas: one item or more, none empty; nothing when it was
  // not given.
  std::vector<std::string> List(const std::string& name) const;
  // The option's value as a number of seconds above 0; nothing when it was not given.
  std::optional<double> Seconds(const std::string& name) const;

 private:
  std::string m_Command;
  bool m_Help = false;
  std::vector<std::string> m_Operands;
  std::map<std::string, std::vector<std::string>> m_Values;
  std::vector<std::vector<std::string>> m_Given;  // each option given with its values, in order
};

// A whole decimal number within low..high, or a usage error naming what.
int ParseNumber(const std::string& text, int low, int high, const std::string& what);

}  // namespace sorrelctl
